// The panel's building blocks: the drawing surface, the skin, the widgets and
// the sequencer rows with their step engine.
#include "Kalverosin4.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <unordered_set>

int toset = 0;

namespace {

constexpr int ScreenWidth = 640;
constexpr int ScreenHeight = 480;
constexpr int Cell = 15;  // buttons, LEDs and knobs are 15 x 15
constexpr int GlyphWidth = 7;
constexpr int GlyphHeight = 11;

int mask_colour() { return makecol(255, 0, 255); }

bool inside(int px, int py, int left, int top, int width, int height)
{
    return px >= left && px < left + width && py >= top && py < top + height;
}

// Pictures made by create_picture() that have not been released yet.
std::unordered_set<BITMAP*>& fresh_pictures()
{
    static std::unordered_set<BITMAP*> pictures;
    return pictures;
}

}  // namespace

// ===========================================================================
// Drawing surface
// ===========================================================================

BITMAP* create_picture(int w, int h)
{
    BITMAP* picture = create_bitmap(w, h);
    if (picture) fresh_pictures().insert(picture);
    return picture;
}

void release_picture(BITMAP* picture)
{
    if (picture && fresh_pictures().erase(picture)) destroy_bitmap(picture);
}

int live_pictures() { return static_cast<int>(fresh_pictures().size()); }

// Other code of the same process may have started Allegro already, with other
// colour settings, so the depth and the layout are set every time. Until a
// graphics mode is set Allegro takes 16-bit colour as BGR; the X11 window gives RGB 565.
bool start_headless_allegro()
{
    if (!system_driver && install_allegro(SYSTEM_NONE, &errno, atexit) != 0) return false;
    set_color_depth(16);
    _rgb_r_shift_16 = 11;
    _rgb_g_shift_16 = 5;
    _rgb_b_shift_16 = 0;
    return true;
}

Schirm::Schirm()
    // Without a graphics driver (headless) there is no video memory to ask for.
    : surface(gfx_driver ? create_video_bitmap(ScreenWidth, ScreenHeight) : nullptr)
{
    if (!surface) surface = create_bitmap(ScreenWidth, ScreenHeight);
    show_mouse(surface);
}

void Schirm::refresh() { blit(surface, screen, 0, 0, 0, 0, ScreenWidth, ScreenHeight); }

void Schirm::blitz(blitz_struct record)
{
    if (!record.bitmap) return;
    BITMAP* picture = record.bitmap;
    scare_mouse();
    if (record.mode == MaskedCopy)
        masked_blit(picture, surface, 0, 0, record.x, record.y, picture->w, picture->h);
    else
        blit(picture, surface, 0, 0, record.x, record.y, picture->w, picture->h);
    unscare_mouse();
}

void Schirm::put(blitz_struct record)
{
    blitz(record);
    release_picture(record.bitmap);
}

void Schirm::release()
{
    show_mouse(nullptr);
    destroy_bitmap(surface);
    surface = nullptr;
}

// ===========================================================================
// Skin
// ===========================================================================

namespace {

template <std::size_t... slot>
constexpr std::array<const char*, SkinSlots> skin_file_names(std::index_sequence<slot...>)
{
    return {SkinFiles[slot].name...};
}

constexpr int LargestSide = 4096;
constexpr int FileHeaderSize = 14;
constexpr int WindowsHeaderSize = 40;
constexpr int Os2HeaderSize = 12;
constexpr int PaletteColours = 256;

std::string full_path(const std::string& path)
{
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

// The directory whose knobcut/ the install filled, found from the program's
// own place so that any install prefix works; empty if that is unknown.
std::string installed_skin_parent()
{
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    return (program.parent_path() / INSTALLED_SKIN_FROM_BINDIR).lexically_normal().string();
}

// Anything named knobcut, even a broken link, is the skin the user means.
bool working_directory_has_skin()
{
    std::error_code error;
    return std::filesystem::symlink_status("knobcut", error).type() != std::filesystem::file_type::not_found;
}

bool is_directory(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Where a skin file was looked for, if it was one of the places the program
// looks by itself, and what the user can do about it.
std::string skin_places_note(const std::string& path)
{
    std::error_code error;
    const std::string working = " Kalverosin 4 reads its skin from the folder knobcut/ in the directory it is started"
                                " from (the working directory, here " + std::filesystem::current_path(error).string();
    const std::string installed = installed_skin_parent();
    const std::string installedSkin = installed + "/knobcut";
    if (!std::filesystem::path(path).is_absolute()) {
        if (installed.empty() || !is_directory(installedSkin)) return working + ").";
        return working + "), and only where there is none from the skin installed with it, in " + installedSkin +
               ". An empty or partial knobcut/ in the working directory hides the installed skin: remove or rename "
               "it to play with the installed skin, or complete it.";
    }
    if (installed.empty() || path.rfind(installed + "/", 0) != 0) return "";
    return working + "), which has none, or else from the skin installed with it, in " + installedSkin +
           ". Install Kalverosin 4 again, or start it from a directory whose knobcut/ holds a whole skin.";
}

long long little_endian(const unsigned char* bytes, int count)
{
    long long value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// The fields of a bitmap's file and picture headers that Allegro's loader reads.
struct BitmapHeader {
    long long pixels;  // where the pixel rows start
    long long size;    // of the picture header: 40 (Windows) or 12 (OS/2)
    bool os2;
    long long width, height, planes, depth, compression;
};

BitmapHeader read_header(const unsigned char* bytes)
{
    auto field = [&](int offset, int count) { return little_endian(bytes + offset, count); };
    BitmapHeader h{field(10, 4), field(14, 4), field(14, 4) == Os2HeaderSize, 0, 0, 0, 0, 0};
    h.width = h.os2 ? field(18, 2) : static_cast<std::int32_t>(field(18, 4));
    h.height = h.os2 ? field(20, 2) : static_cast<std::int32_t>(field(22, 4));
    h.planes = field(h.os2 ? 22 : 26, 2);
    h.depth = field(h.os2 ? 24 : 28, 2);
    h.compression = h.os2 ? 0 : field(30, 4);
    return h;
}

std::string compression_name(long long compression)
{
    switch (compression) {
    case 1: return "RLE8";
    case 2: return "RLE4";
    case 3: return "bit fields";
    default: return "type " + std::to_string(compression);
    }
}

std::string cut_short(long long size, long long promised)
{
    return "it is cut short: " + std::to_string(size) + " bytes, but its header promises " +
           std::to_string(promised) + ".";
}

// Allegro 4.4's loader trusts every field of the header (measured under
// valgrind): it writes run-length compressed rows past the picture, reads a
// colour table of any length into a palette of 256, leaves colours it did not
// read unset, and refuses top-down pictures and longer headers without saying
// why. So only what it reads safely passes: uncompressed, bottom-up, with the
// 40-byte Windows header (16, 24 or 32 bits) or the 12-byte OS/2 header
// (24 bits), or at 8 bits with all 256 colours in its table, the pixels
// straight after header and table.
std::string header_problem(const BitmapHeader& h)
{
    const std::string side_limit = " is not between 1 and " + std::to_string(LargestSide) + " pixels.";
    if (h.width < 1 || h.width > LargestSide) return "its width (" + std::to_string(h.width) + ")" + side_limit;
    if (h.height < 0) return "it is stored top down (its height is negative), which Allegro cannot read.";
    if (h.height < 1 || h.height > LargestSide) return "its height (" + std::to_string(h.height) + ")" + side_limit;
    if (h.planes != 1) return "its number of planes is " + std::to_string(h.planes) + ", not 1.";
    if (h.depth != 8 && h.depth != 24 && (h.os2 || (h.depth != 16 && h.depth != 32)))
        return "its colour depth is " + std::to_string(h.depth) + "; Allegro reads " +
               (h.os2 ? "OS/2 bitmaps of 8 or 24" : "8, 16, 24 or 32") + " bits per pixel.";
    if (h.compression != 0)
        return "it is compressed (" + compression_name(h.compression) + "); only uncompressed bitmaps are read.";
    const long long table = h.depth == 8 ? PaletteColours * (h.os2 ? 3 : 4) : 0;
    if (h.pixels != FileHeaderSize + h.size + table)
        return "its pixels start at byte " + std::to_string(h.pixels) + ", but must follow the header" +
               (table ? " and a table of all 256 colours" : "") + " at byte " +
               std::to_string(FileHeaderSize + h.size + table) + ".";
    return "";
}

// Why Allegro cannot load the file safely; empty when it can.
std::string bitmap_problem(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return "it is missing.";
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const long long size = file ? static_cast<long long>(file.tellg()) : -1;
    if (size < 0) return "it cannot be read.";
    unsigned char bytes[FileHeaderSize + WindowsHeaderSize] = {};
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (size < 2 || bytes[0] != 'B' || bytes[1] != 'M')
        return "it is not a Windows bitmap (it does not start with BM).";
    if (size < FileHeaderSize + 4) return cut_short(size, FileHeaderSize + 4);
    const BitmapHeader h = read_header(bytes);
    if (!h.os2 && h.size != WindowsHeaderSize)
        return "its header is " + std::to_string(h.size) + " bytes long, but Allegro reads only the 40-byte Windows"
               " header and the 12-byte OS/2 header (ImageMagick writes the first with BMP3:).";
    if (size < FileHeaderSize + h.size) return cut_short(size, FileHeaderSize + h.size);
    std::string problem = header_problem(h);
    const long long end = h.pixels + (h.width * h.depth + 31) / 32 * 4 * h.height;
    if (problem.empty() && size < end) problem = cut_short(size, end);
    return problem;
}

}  // namespace

const std::array<const char*, SkinSlots> Skin::file_names = skin_file_names(std::make_index_sequence<SkinSlots>());

SkinError::SkinError(const std::string& path, const std::string& problem)
    : std::runtime_error("Cannot use the skin file " + full_path(path) + ": " + problem + skin_places_note(path)),
      file(path)
{
}

BITMAP* load_skin_file(const std::string& path, const SkinFile& file)
{
    std::string problem = bitmap_problem(path);
    if (!problem.empty()) throw SkinError(path, problem);
    BITMAP* picture = load_bitmap(path.c_str(), nullptr);
    if (!picture) throw SkinError(path, "Allegro could not load it.");
    if (picture->w >= file.w && picture->h >= file.h) return picture;
    std::string size = std::to_string(picture->w) + " x " + std::to_string(picture->h);
    destroy_bitmap(picture);
    throw SkinError(path, "it is " + size + " pixels, but at least " + std::to_string(file.w) + " x " +
                              std::to_string(file.h) + " are drawn.");
}

Skin::Skin() : Skin(working_directory_has_skin() ? std::string() : installed_skin_parent()) {}

// A skin that cannot be completed gives back what it had loaded.
Skin::Skin(const std::string& directory)
{
    int loaded = 0;
    try {
        for (; loaded < SkinSlots; ++loaded) {
            const SkinFile& file = SkinFiles[loaded];
            std::string path = directory.empty() ? file.name : directory + "/" + file.name;
            *file.field(*this) = load_skin_file(path, file);
        }
    } catch (const SkinError&) {
        while (loaded > 0) destroy_bitmap(*slot(--loaded));
        throw;
    }
}

BITMAP** Skin::slot(int index) { return SkinFiles[index].field(*this); }

blitz_struct Skin::panel()
{
    constexpr int TileWidth = 300;
    constexpr int TileHeight = 200;
    BITMAP* picture = create_picture(ScreenWidth, ScreenHeight);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            blit(paneltexture, picture, 0, 0, i * TileWidth, j * TileHeight, TileWidth, TileHeight);
    return {picture, 0, 0, 0};
}

blitz_struct Skin::cock(int y) { return {cock_panel, 10, y, 0}; }

void Skin::release()
{
    for (int i = 0; i < SkinSlots; ++i) {
        destroy_bitmap(*slot(i));
        *slot(i) = nullptr;
    }
}

// ===========================================================================
// Text label
// ===========================================================================

Txt::Txt(Skin skin, int x, int y, const char* text, int shade)
    : x(x), y(y), shade(shade), text(text), alphabet(skin.alphabet), alphabet_shadex(skin.alphabet_shadex)
{
}

namespace {

// Column of a character's cell in the glyph strip, or -1 for a blank cell.
int glyph_column(signed char c)
{
    if (c >= 'A' && c <= 'Z') return (c - 'A') * GlyphWidth;
    if (c >= 'a' && c <= 'z') return (c - 'a') * GlyphWidth;
    if (c >= '0' && c <= '9') return 26 * GlyphWidth + (c - '0') * GlyphWidth;
    return -1;
}

}  // namespace

blitz_struct Txt::draw()
{
    int n = text ? static_cast<int>(std::strlen(text)) : 0;
    if (n == 0) return {nullptr, x, y, MaskedCopy};
    BITMAP* strip = shade ? alphabet_shadex : alphabet;
    BITMAP* picture = create_picture(GlyphWidth * n, GlyphHeight);
    clear_to_color(picture, mask_colour());
    for (int k = 0; k < n; ++k) {
        int column = glyph_column(static_cast<signed char>(text[k]));
        if (column >= 0) masked_blit(strip, picture, column, 0, GlyphWidth * k, 0, GlyphWidth, GlyphHeight);
    }
    return {picture, x, y, MaskedCopy};
}

// ===========================================================================
// Displays
// ===========================================================================

namespace {

constexpr int DisplayWidth = 25;
constexpr int GlyphTop = 2;

BITMAP* display_background(BITMAP* plain)
{
    BITMAP* picture = create_picture(DisplayWidth, Cell);
    blit(plain, picture, 0, 0, 0, 0, DisplayWidth, Cell);
    return picture;
}

void put_glyph(BITMAP* glyph, BITMAP* picture, int left, int width)
{
    masked_blit(glyph, picture, 0, 0, left, GlyphTop, width, GlyphHeight);
}

}  // namespace

Dis3::Dis3(int id, Skin skin, int x, int y, int value)
    : id(id), value(value), x(x), y(y), display3_plain(skin.display3_plain)
{
    std::copy(std::begin(skin.dd_digit), std::end(skin.dd_digit), dd_digit);
}

blitz_struct Dis3::draw(int mode)
{
    BITMAP* picture = display_background(display3_plain);
    const int divisors[] = {100, 10, 1};
    const int positions[] = {2, 9, 16};
    int rest = value;
    for (int place = 0; place < 3; ++place) {
        int digit = rest / divisors[place];
        if (digit >= 0 && digit <= 9) put_glyph(dd_digit[digit], picture, positions[place], GlyphWidth);
        rest -= digit * divisors[place];
    }
    return {picture, x, y, mode};
}

blitz_struct Dis3::refresh(int shown)
{
    if (shown == value) return BSNULL;
    value = shown;
    return draw(0);
}

DisN::DisN(int id, Skin skin, int x, int y, int value)
    : id(id), value(value), x(x), y(y), display3_plain(skin.display3_plain)
{
    std::copy(std::begin(skin.dd_digit), std::end(skin.dd_digit), dd_digit);
    std::copy(std::begin(skin.dd_note), std::end(skin.dd_note), dd_note);
}

// A negative number has no note: truncation toward zero would otherwise show
// octave 0 for -1 to -11 and a c for -12.
blitz_struct DisN::draw(int mode)
{
    int octave = value / 12;
    int note = value - 12 * octave;
    BITMAP* picture = display_background(display3_plain);
    if (value < 0) return {picture, x, y, mode};
    if (note >= 0 && note <= 11) put_glyph(dd_note[note], picture, 2, 2 * GlyphWidth);
    if (octave >= 0 && octave <= 9) put_glyph(dd_digit[octave], picture, 16, 2 * GlyphWidth);
    return {picture, x, y, mode};
}

blitz_struct DisN::refresh(int shown)
{
    if (shown == value) return BSNULL;
    value = shown;
    return draw(0);
}

// ===========================================================================
// Buttons
// ===========================================================================

namespace {

bool captured_by_other(int id) { return toset != 0 && toset != id; }

BITMAP* button_face(bool touched, bool selected, BITMAP* ut_up, BITMAP* ut_p, BITMAP* t_up, BITMAP* t_p)
{
    if (touched) return selected ? t_p : t_up;
    return selected ? ut_p : ut_up;
}

}  // namespace

But1::But1(int id, Skin skin, int x, int y, int state)
    : id(id),
      lock(-1),
      x(x),
      y(y),
      state(state),
      button_ut_up(skin.button_ut_up),
      button_ut_p(skin.button_ut_p),
      button_t_up(skin.button_t_up),
      button_t_p(skin.button_t_p),
      last_touched(0),
      last_pressed(0)
{
}

int But1::touched()
{
    if (captured_by_other(id)) return 0;
    return inside(mouse_x, mouse_y, x, y, Cell, Cell) ? 1 : 0;
}

int But1::pressed()
{
    if (touched() != 1 || mouse_b == 0) return 0;
    toset = id;
    return 1;
}

int But1::get_state() { return state; }

blitz_struct But1::draw(int mode)
{
    BITMAP* face =
        button_face(touched() == 1, state != 0, button_ut_up, button_ut_p, button_t_up, button_t_p);
    return {face, x, y, mode};
}

blitz_struct But1::refresh()
{
    // The lock only has to reach a negative value; counting on would overflow after months.
    if (lock >= 0) --lock;
    int t = touched();
    if (t != last_touched) {
        last_touched = t;
        return draw(0);
    }
    int p = pressed();
    if (p == last_pressed) return BSNULL;
    last_pressed = p;
    return p == 1 ? take_press() : BSNULL;
}

blitz_struct But1::take_press()
{
    if (lock >= 0) return BSNULL;
    lock = lockframes;
    if (state != 0) {
        state = 0;
        return draw(2);
    }
    state = 1;
    return draw(1);
}

But3::But3(int id, Skin skin, int x, int y)
    : id(id),
      x(x),
      y(y),
      state(0),
      button_ut_up(skin.button_ut_up),
      button_ut_p(skin.button_ut_p),
      button_t_up(skin.button_t_up),
      button_t_p(skin.button_t_p),
      last_touched(-1),
      last_pressed(-1)
{
}

int But3::touched()
{
    if (captured_by_other(id)) return -1;
    if (!inside(mouse_x, mouse_y, x, y, Cell, 3 * Cell)) return -1;
    return 2 - (mouse_y - y) / Cell;
}

int But3::pressed()
{
    int cell = touched();
    if (cell == -1 || mouse_b == 0) return -1;
    toset = id;
    return cell;
}

int But3::get_state() { return state; }

blitz_struct But3::draw(int mode)
{
    BITMAP* picture = create_picture(Cell, 3 * Cell);
    int t = touched();
    for (int i = 0; i < 3; ++i) {
        int v = 2 - i;
        BITMAP* face = button_face(t == v, state == v, button_ut_up, button_ut_p, button_t_up, button_t_p);
        blit(face, picture, 0, 0, 0, Cell * i, Cell, Cell);
    }
    return {picture, x, y, mode};
}

blitz_struct But3::refresh()
{
    int t = touched();
    if (t != last_touched) {
        last_touched = t;
        return draw(0);
    }
    int p = pressed();
    if (p == -1 || p == last_pressed) return BSNULL;
    state = p;
    last_pressed = p;
    return draw(0);
}

// ===========================================================================
// LED button and LED
// ===========================================================================

ButLed::ButLed(int id, Skin skin, int x, int y)
    : id(id),
      start(1),
      grab_start(0),
      end(8),
      grab_end(0),
      current(0),
      redraw(false),
      x(x),
      y(y),
      buttonled_out(skin.buttonled_out),
      buttonled_off(skin.buttonled_off),
      buttonled_on(skin.buttonled_on),
      last_pressed(0)
{
}

int ButLed::touched()
{
    if (captured_by_other(id)) return 0;
    if (!inside(mouse_x, mouse_y, x, y, StepsPerRow * Cell, Cell)) return 0;
    return (mouse_x - x) / Cell + 1;
}

int ButLed::pressed()
{
    int step = touched();
    if (step == 0 || mouse_b == 0) return 0;
    toset = id;
    return step;
}

blitz_struct ButLed::draw(int mode)
{
    // A fast drag can leave the start beyond the end; the steps between the
    // two markers play all the same, so they show as the loop.
    int low = std::min(start, end);
    int high = std::max(start, end);
    BITMAP* picture = create_picture(StepsPerRow * Cell, Cell);
    for (int n = 1; n <= StepsPerRow; ++n) {
        BITMAP* face = buttonled_off;
        if (n == current)
            face = buttonled_on;
        else if (n < low || n > high)
            face = buttonled_out;
        blit(face, picture, 0, 0, Cell * (n - 1), 0, Cell, Cell);
    }
    return {picture, x, y, mode};
}

void ButLed::follow_pointer(int step)
{
    if (step == start) grab_start = 1;
    if (step == end) grab_end = 1;
    if (step == start || step == end) return;
    if (grab_start) {
        start = step;
        if (start == end - 1) grab_start = 0;
    }
    if (grab_end) {
        end = step;
        if (end == start + 1) grab_end = 0;
    }
}

blitz_struct ButLed::refresh()
{
    int p = pressed();
    if (p == last_pressed) {
        if (!redraw) return BSNULL;
        redraw = false;
        return draw(0);
    }
    last_pressed = p;
    if (p != 0) {
        follow_pointer(p);
    } else {
        grab_start = 0;
        grab_end = 0;
    }
    if (start == end) end = start + 1;
    return draw(0);
}

Led::Led(Skin skin, int x, int y)
    : redraw(true), state(0), buttonled_on(skin.buttonled_on), buttonled_off(skin.buttonled_off), x(x), y(y)
{
}

blitz_struct Led::draw() { return {state == 1 ? buttonled_on : buttonled_off, x, y, 0}; }

blitz_struct Led::refresh()
{
    if (!redraw) return BSNULL;
    redraw = false;
    return draw();
}

// ===========================================================================
// Fader
// ===========================================================================

namespace {

constexpr int ShortTrack = 72;
constexpr int MiddleTrack = 120;
constexpr int LongTrack = 144;

}  // namespace

// A track needs at least one pixel of travel and cannot be longer than the
// longest track picture; fewer than two snap positions would leave nothing to
// snap to.
Fader::Fader(int id, Skin skin, int x, int y, int length, int min, int max, int value, int steps)
    : id(id),
      value(value),
      last_touched(0),
      last_pressed(0),
      x(x),
      y(y),
      length(std::clamp(length, Cell + 1, LongTrack)),
      min(min),
      max(max),
      steps(std::max(steps, 2)),
      fader_bett_72(skin.fader_bett_72),
      fader_bett_120(skin.fader_bett_120),
      fader_bett_144(skin.fader_bett_144),
      faderknob_ut(skin.faderknob_ut),
      faderknob_t(skin.faderknob_t),
      grab(0),
      knob_pos(0)
{
    knob_pos = rest_position(value);
}

int Fader::travel() const { return length - Cell; }

// Where the knob rests for a value: truncated toward zero like the real quotient.
int Fader::rest_position(int v) const
{
    if (max == min) return 0;
    long long position = static_cast<long long>(travel()) * (static_cast<long long>(v) - min) / (max - min);
    return static_cast<int>(std::clamp<long long>(position, 0, travel()));
}

void Fader::set(int v)
{
    value = std::clamp(v, std::min(min, max), std::max(min, max));
    knob_pos = rest_position(value);
}

BITMAP* Fader::track() const
{
    if (length <= ShortTrack) return fader_bett_72;
    if (length <= MiddleTrack) return fader_bett_120;
    return fader_bett_144;
}

int Fader::touched()
{
    if (captured_by_other(id)) return 0;
    if (inside(mouse_x, mouse_y, x + knob_pos, y, Cell, Cell)) return 1;
    return grab != 0 ? 1 : 0;
}

int Fader::pressed()
{
    if (touched() != 1 || mouse_b == 0) return 0;
    toset = id;
    return 1;
}

blitz_struct Fader::draw(int mode)
{
    BITMAP* picture = create_picture(length, Cell);
    blit(track(), picture, 0, 0, 0, 0, length, Cell);
    blit(touched() == 1 ? faderknob_t : faderknob_ut, picture, 0, 0, knob_pos, 0, Cell, Cell);
    return {picture, x, y, mode};
}

// The knob keeps the distance at which it was grabbed and snaps to the nearest
// of the evenly spaced positions (halfway goes up). Exact integer arithmetic:
// the grid position is (steps - 1) * rel / travel.
blitz_struct Fader::drag()
{
    int rel = std::clamp(mouse_x - grab, x, x + travel()) - x;
    long long intervals = steps - 1;
    long long n = (2 * intervals * rel + travel()) / (2LL * travel());
    value = static_cast<int>((static_cast<long long>(max) - min) * n / intervals + min);
    int newpos = rest_position(value);
    if (newpos == knob_pos) return BSNULL;
    knob_pos = newpos;
    return draw(value);
}

blitz_struct Fader::refresh()
{
    int t = touched();
    if (t != last_touched) {
        last_touched = t;
        return draw(0);
    }
    int p = pressed();
    if (p == 1 && last_pressed != 1) {
        last_pressed = 1;
        grab = mouse_x - (x + knob_pos);
    }
    if (p == 0 && last_pressed != 0) {
        last_pressed = 0;
        grab = 0;
    }
    if (grab == 0) return BSNULL;
    return drag();
}

// ===========================================================================
// Sequencer rows: the step engine
// ===========================================================================

namespace {

constexpr int Backward = 0;
constexpr int PingPong = 1;
constexpr int Forward = 2;

// Steps a position that lies outside the loop back into it, in whole loop lengths.
int wrap_down(int p, int high, int length) { return p > high ? p - ((p - high + length - 1) / length) * length : p; }
int wrap_up(int p, int low, int length) { return p < low ? p + ((low - p + length - 1) / length) * length : p; }

}  // namespace

// Forward and backward rows wrap around the loop; a ping-pong row turns by
// undoing the move that left the loop, so it plays the end step twice. A
// ping-pong row outside the loop whose move overshoots on both sides settles
// on the loop end nearest to where it was, travelling back into the loop.
int advance_play_position(int position, int width, int direction, int start, int end, int& forward)
{
    int low = std::min(start, end);
    int high = std::max(start, end);
    int length = high - low + 1;
    bool pingpong = direction == PingPong;
    if (forward == 1) {
        int p = position + width;
        if (p <= high) return p;
        if (!pingpong) return wrap_down(p, high, length);
        if (position >= low) {
            forward = 0;
            return position;
        }
        return low;
    }
    int p = position - width;
    if (p >= low) return p;
    if (!pingpong) return wrap_up(p, low, length);
    if (position <= high) {
        forward = 1;
        return position;
    }
    return high;
}

// ===========================================================================
// Sequencer rows: the value lines of each kind of row
// ===========================================================================

namespace {

// Widget ids inside a row, added to the row's id. A note line has three
// controls, so the note row's loop bar and step buttons come later.
enum RowId {
    RateDisId = 1,
    RateFaderId = 2,
    StepDisId = 3,
    StepFaderId = 4,
    DirectFaderId = 5,
    LineFader1Id = 6,  // then display, on each line: 6 to 11
    LoopBarId = 12,
    StepButtonsId = 13,
    NoteLine1Id = 6,  // semitone fader, note display, octave fader on each line: 6 to 14
    NoteLoopBarId = 15,
    NoteStepButtonsId = 16,
    ControllerFaderId = 20,
    ControllerDisId = 21,
};

constexpr int MidiValues = 128;
constexpr int LineTop[] = {25, 40, 55};  // value lines 1 to 3, relative to the row
constexpr int LineFaderX = 440;

// A 0 to 127 fader with its display, on line 1 to 3 of a controller or gate row.
Fader line_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + LineFader1Id + 2 * (line - 1), skin, x + LineFaderX, y + LineTop[line - 1], 144, 0, 127, 64,
            MidiValues};
}
Dis3 line_display(int id, const Skin& skin, int x, int y, int line)
{
    return {id + LineFader1Id + 1 + 2 * (line - 1), skin, x + 584, y + LineTop[line - 1], 64};
}

Fader semitone_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + NoteLine1Id + 3 * (line - 1), skin, x + LineFaderX, y + LineTop[line - 1], 72, 0, 11, 0, 12};
}
DisN note_display(int id, const Skin& skin, int x, int y, int line)
{
    return {id + NoteLine1Id + 1 + 3 * (line - 1), skin, x + 512, y + LineTop[line - 1], 36};
}
Fader octave_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + NoteLine1Id + 2 + 3 * (line - 1), skin, x + 537, y + LineTop[line - 1], 72, 0, 9, 3, 10};
}

}  // namespace

ControllerLines::ControllerLines(int id, const Skin& skin, int x, int y)
    : controllerFader(id + ControllerFaderId, skin, x + LineFaderX, y + 10, 144, 0, 127, 1, MidiValues),
      controllerDis(id + ControllerDisId, skin, x + 584, y + 10, 1),
      valueFader1(line_fader(id, skin, x, y, 1)), valueDis1(line_display(id, skin, x, y, 1)),
      valueFader2(line_fader(id, skin, x, y, 2)), valueDis2(line_display(id, skin, x, y, 2)),
      valueFader3(line_fader(id, skin, x, y, 3)), valueDis3(line_display(id, skin, x, y, 3))
{
}

VelocityLines::VelocityLines(int id, const Skin& skin, int x, int y)
    : velocityFader1(line_fader(id, skin, x, y, 1)), velocityDis1(line_display(id, skin, x, y, 1)),
      velocityFader2(line_fader(id, skin, x, y, 2)), velocityDis2(line_display(id, skin, x, y, 2)),
      velocityFader3(line_fader(id, skin, x, y, 3)), velocityDis3(line_display(id, skin, x, y, 3))
{
}

NoteLines::NoteLines(int id, const Skin& skin, int x, int y)
    : noteFader1(semitone_fader(id, skin, x, y, 1)), noteDis1(note_display(id, skin, x, y, 1)),
      octaveFader1(octave_fader(id, skin, x, y, 1)),
      noteFader2(semitone_fader(id, skin, x, y, 2)), noteDis2(note_display(id, skin, x, y, 2)),
      octaveFader2(octave_fader(id, skin, x, y, 2)),
      noteFader3(semitone_fader(id, skin, x, y, 3)), noteDis3(note_display(id, skin, x, y, 3)),
      octaveFader3(octave_fader(id, skin, x, y, 3))
{
}

namespace {

// What the template needs to know of each kind of row.
template <class Lines> struct Kind;
template <> struct Kind<ControllerLines> {
    static constexpr const char* title = "CONTROLLER";
    static constexpr int items = ControllerRowItems;
    static constexpr int loopBarId = LoopBarId;
    static constexpr int stepButtonsId = StepButtonsId;
};
template <> struct Kind<VelocityLines> {
    static constexpr const char* title = "VELOCITY";
    static constexpr int items = GateRowItems;
    static constexpr int loopBarId = LoopBarId;
    static constexpr int stepButtonsId = StepButtonsId;
};
template <> struct Kind<NoteLines> {
    static constexpr const char* title = "NOTE";
    static constexpr int items = NoteRowItems;
    static constexpr int loopBarId = NoteLoopBarId;
    static constexpr int stepButtonsId = NoteStepButtonsId;
};

using ValueFaders = std::array<Fader*, 3>;
using ValueDisplays = std::array<Dis3*, 3>;
ValueFaders value_faders(ControllerLines& l) { return {&l.valueFader1, &l.valueFader2, &l.valueFader3}; }
ValueDisplays value_displays(ControllerLines& l) { return {&l.valueDis1, &l.valueDis2, &l.valueDis3}; }
ValueFaders value_faders(VelocityLines& l) { return {&l.velocityFader1, &l.velocityFader2, &l.velocityFader3}; }
ValueDisplays value_displays(VelocityLines& l) { return {&l.velocityDis1, &l.velocityDis2, &l.velocityDis3}; }
ValueFaders semitone_faders(NoteLines& l) { return {&l.noteFader1, &l.noteFader2, &l.noteFader3}; }
ValueFaders octave_faders(NoteLines& l) { return {&l.octaveFader1, &l.octaveFader2, &l.octaveFader3}; }
std::array<DisN*, 3> note_displays(NoteLines& l) { return {&l.noteDis1, &l.noteDis2, &l.noteDis3}; }

// True when item i is one of the three items that begin at first.
bool one_of_three(int i, int first) { return i >= first && i < first + 3; }

template <class Lines>
std::array<Txt*, 3> labels(Row<Lines>& row) { return {&row.rateTxt, &row.stepTxt, &row.directTxt}; }
template <class Lines>
std::array<Led*, 3> leds(Row<Lines>& row) { return {&row.led1, &row.led2, &row.led3}; }

// The items of a controller or gate row after the common ones: a fader and a
// display on each line, the labels and the LEDs, the title.
template <class Lines>
blitz_struct draw_value_line_item(Row<Lines>& row, int i)
{
    if (one_of_three(i, LineFaderItem)) return value_faders(row.lines)[i - LineFaderItem]->draw(0);
    if (one_of_three(i, LineDisItem)) return value_displays(row.lines)[i - LineDisItem]->draw(0);
    if (one_of_three(i, LabelDrawItem)) return labels(row)[i - LabelDrawItem]->draw();
    if (one_of_three(i, LedItem)) return leds(row)[i - LedItem]->draw();
    if (i == TitleDrawItem) return row.titleTxt.draw();
    return BSNULL;
}

template <class Lines>
blitz_struct refresh_value_line_item(Row<Lines>& row, int i)
{
    ValueFaders faders = value_faders(row.lines);
    if (one_of_three(i, LineFaderItem)) return faders[i - LineFaderItem]->refresh();
    if (one_of_three(i, LineDisItem))
        return value_displays(row.lines)[i - LineDisItem]->refresh(faders[i - LineDisItem]->value);
    if (one_of_three(i, LedItem)) return leds(row)[i - LedItem]->refresh();
    return BSNULL;
}

blitz_struct draw_own_item(Row_Mode& row, int i)
{
    if (i == ControllerFaderDrawItem) return row.lines.controllerFader.draw(0);
    if (i == ControllerDisDrawItem) return row.lines.controllerDis.draw(0);
    return draw_value_line_item(row, i);
}

blitz_struct refresh_own_item(Row_Mode& row, int i)
{
    if (i == ControllerFaderRefreshItem) return row.lines.controllerFader.refresh();
    if (i == ControllerDisRefreshItem) return row.lines.controllerDis.refresh(row.lines.controllerFader.value);
    return refresh_value_line_item(row, i);
}

blitz_struct draw_own_item(Row_Gate& row, int i) { return draw_value_line_item(row, i); }
blitz_struct refresh_own_item(Row_Gate& row, int i) { return refresh_value_line_item(row, i); }

int note_of_line(NoteLines& lines, int k) { return octave_faders(lines)[k]->value * 12 + semitone_faders(lines)[k]->value; }

blitz_struct draw_own_item(Row_Note& row, int i)
{
    if (one_of_three(i, SemitoneFaderItem)) return semitone_faders(row.lines)[i - SemitoneFaderItem]->draw(0);
    if (one_of_three(i, OctaveFaderItem)) return octave_faders(row.lines)[i - OctaveFaderItem]->draw(0);
    if (one_of_three(i, NoteDisItem)) return note_displays(row.lines)[i - NoteDisItem]->draw(0);
    if (one_of_three(i, NoteLabelDrawItem)) return labels(row)[i - NoteLabelDrawItem]->draw();
    if (one_of_three(i, NoteLedDrawItem)) return leds(row)[i - NoteLedDrawItem]->draw();
    if (i == NoteTitleDrawItem) return row.titleTxt.draw();
    return BSNULL;
}

blitz_struct refresh_own_item(Row_Note& row, int i)
{
    if (one_of_three(i, SemitoneFaderItem)) return semitone_faders(row.lines)[i - SemitoneFaderItem]->refresh();
    if (one_of_three(i, OctaveFaderItem)) return octave_faders(row.lines)[i - OctaveFaderItem]->refresh();
    if (one_of_three(i, NoteDisItem))
        return note_displays(row.lines)[i - NoteDisItem]->refresh(note_of_line(row.lines, i - NoteDisItem));
    if (one_of_three(i, NoteLedRefreshItem)) return leds(row)[i - NoteLedRefreshItem]->refresh();
    return BSNULL;
}

int value_of_line(ControllerLines& lines, int k) { return value_faders(lines)[k]->value; }
int value_of_line(VelocityLines& lines, int k) { return value_faders(lines)[k]->value; }
int value_of_line(NoteLines& lines, int k) { return note_of_line(lines, k); }

}  // namespace

// ===========================================================================
// Sequencer rows: what every row has
// ===========================================================================

namespace {

void release_capture_when_no_button()
{
    if (mouse_b == 0) toset = 0;
}

int step_length_divisor(int rate_exponent) { return 1 << std::clamp(rate_exponent, 0, 6); }

// A loop bar dragged out of order still plays the steps between its two markers.
int loop_low(const ButLed& bar) { return std::min(bar.start, bar.end); }
int loop_high(const ButLed& bar) { return std::max(bar.start, bar.end); }

template <std::size_t... k>
std::array<But3, StepsPerRow> step_buttons(int id, const Skin& skin, int x, int y, std::index_sequence<k...>)
{
    return {{But3(id, skin, x + 185 + Cell * static_cast<int>(k), y + 25)...}};
}

Txt label(const Skin& skin, int x, int y, const char* text, int shade) { return {skin, x + 8, y + 3, text, shade}; }

}  // namespace

template <class Lines>
Row<Lines>::Row(int id, Skin skin, int x, int y)
    : id(id),
      items(Kind<Lines>::items),
      rate(12),
      forward(1),
      panelBitmap(skin.row_panel),
      rateDis(id + RateDisId, skin, x + 40, y + 25, 16),
      rateFader(id + RateFaderId, skin, x + 65, y + 25, 120, 0, 6, 4, 7),
      stepDis(id + StepDisId, skin, x + 40, y + 40, 1),
      stepFader(id + StepFaderId, skin, x + 65, y + 40, 120, 1, 16, 1, 16),
      directFader(id + DirectFaderId, skin, x + 65, y + 55, 120, 0, 2, Forward, 3),
      lines(id, skin, x, y),
      loopBar(id + Kind<Lines>::loopBarId, skin, x + 185, y + 10),
      stepButtons(step_buttons(id + Kind<Lines>::stepButtonsId, skin, x, y, std::make_index_sequence<StepsPerRow>())),
      titleTxt(label(skin, x, y + 5, Kind<Lines>::title, 1)),
      rateTxt(label(skin, x, y + LineTop[0], "RATE", 0)),
      stepTxt(label(skin, x, y + LineTop[1], "STEP", 0)),
      directTxt(label(skin, x, y + LineTop[2], "DIRECT", 0)),
      led1(skin, x + 425, y + LineTop[0]),
      led2(skin, x + 425, y + LineTop[1]),
      led3(skin, x + 425, y + LineTop[2]),
      x(x),
      y(y)
{
}

template <class Lines>
blitz_struct Row<Lines>::drawpanel()
{
    return {panelBitmap, x, y, 0};
}

template <class Lines>
blitz_struct Row<Lines>::draw(int i)
{
    if (i < CommonItems) return draw_common_item(i);
    return draw_own_item(*this, i);
}

template <class Lines>
blitz_struct Row<Lines>::refresh(int i)
{
    release_capture_when_no_button();
    if (i < CommonItems) return refresh_common_item(i);
    return refresh_own_item(*this, i);
}

template <class Lines>
blitz_struct Row<Lines>::draw_common_item(int i)
{
    if (i >= StepButtonItem && i < StepButtonItem + StepsPerRow) return stepButtons[i - StepButtonItem].draw(0);
    switch (i) {
    case LoopBarItem: return loopBar.draw(0);
    case RateDisItem: return rateDis.draw(0);
    case StepDisItem: return stepDis.draw(0);
    case RateFaderItem: return rateFader.draw(0);
    case StepFaderItem: return stepFader.draw(0);
    case DirectFaderItem: return directFader.draw(0);
    default: return BSNULL;
    }
}

template <class Lines>
blitz_struct Row<Lines>::refresh_common_item(int i)
{
    if (i >= StepButtonItem && i < StepButtonItem + StepsPerRow) return stepButtons[i - StepButtonItem].refresh();
    switch (i) {
    case LoopBarItem: return loopBar.refresh();
    case RateDisItem: return rateDis.refresh(step_length_divisor(rateFader.value));
    case StepDisItem: return stepDis.refresh(stepFader.value);
    case RateFaderItem: return refresh_rate();
    case StepFaderItem: return stepFader.refresh();
    case DirectFaderItem: return refresh_direction();
    default: return BSNULL;
    }
}

template <class Lines>
blitz_struct Row<Lines>::refresh_rate()
{
    blitz_struct r = rateFader.refresh();
    if (r.bitmap && rateFader.pressed()) rate = 192 / step_length_divisor(rateFader.value);
    return r;
}

// Any redraw of the DIRECT fader, a mere hover included, sets the direction of travel.
template <class Lines>
blitz_struct Row<Lines>::refresh_direction()
{
    blitz_struct r = directFader.refresh();
    if (r.bitmap) forward = directFader.value != Backward ? 1 : 0;
    return r;
}

template <class Lines>
void Row<Lines>::ready()
{
    int width = stepFader.value;
    if (directFader.value == Backward) {
        forward = 0;
        loopBar.current = loop_high(loopBar) + width;
    } else {
        forward = 1;
        loopBar.current = loop_low(loopBar) - width;
    }
}

// Moves the play position, lights the LED of the line that the new step's
// button selects, asks for the redraws and returns that line's value. Draws
// and allocates nothing.
template <class Lines>
int Row<Lines>::step()
{
    int p = advance_play_position(loopBar.current, stepFader.value, directFader.value, loopBar.start, loopBar.end,
                                  forward);
    loopBar.current = p;
    loopBar.redraw = true;
    int s = (p >= 1 && p <= StepsPerRow) ? stepButtons[p - 1].get_state() : 0;
    led1.state = s == 2 ? 1 : 0;
    led2.state = s == 1 ? 1 : 0;
    led3.state = (s != 2 && s != 1) ? 1 : 0;
    led1.redraw = true;
    led2.redraw = true;
    led3.redraw = true;
    return led1.state * line_value(0) + led2.state * line_value(1) + led3.state * line_value(2);
}

template <class Lines>
int Row<Lines>::line_value(int line)
{
    return value_of_line(lines, line);
}

template class Row<ControllerLines>;
template class Row<VelocityLines>;
template class Row<NoteLines>;
