// The panel's building blocks: the drawing surface, the skin, the widgets and
// the sequencer rows with their step engine.
#include "Kalverosin4.h"

#include <algorithm>
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

// Where a relative skin path was looked for.
std::string relative_path_note(const std::string& path)
{
    std::error_code error;
    if (std::filesystem::path(path).is_absolute()) return "";
    return " Kalverosin 4 reads its skin from the folder knobcut/ in the directory it is started from"
           " (the working directory, here " + std::filesystem::current_path(error).string() + ").";
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
    : std::runtime_error("Cannot use the skin file " + full_path(path) + ": " + problem + relative_path_note(path)),
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

Skin::Skin() : Skin(std::string()) {}

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
    if (lock >= 0 || p != 1) return BSNULL;
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
// Sequencer rows: the parts that all three row classes share
// ===========================================================================

namespace {

// Widget ids inside a row, added to the row's id.
enum RowId {
    RateDisId = 1,
    RateFaderId = 2,
    StepDisId = 3,
    StepFaderId = 4,
    DirectFaderId = 5,
};

constexpr int Backward = 0;
constexpr int PingPong = 1;
constexpr int Forward = 2;

void release_capture_when_no_button()
{
    if (mouse_b == 0) toset = 0;
}

int step_length_divisor(int rate_exponent) { return 1 << std::clamp(rate_exponent, 0, 6); }

template <class Row>
blitz_struct draw_common_item(Row& row, int i)
{
    if (i >= StepButtonItem && i < StepButtonItem + StepsPerRow) return row.stepButtons[i - StepButtonItem].draw(0);
    switch (i) {
    case LoopBarItem: return row.loopBar.draw(0);
    case RateDisItem: return row.rateDis.draw(0);
    case StepDisItem: return row.stepDis.draw(0);
    case RateFaderItem: return row.rateFader.draw(0);
    case StepFaderItem: return row.stepFader.draw(0);
    case DirectFaderItem: return row.directFader.draw(0);
    default: return BSNULL;
    }
}

template <class Row>
blitz_struct refresh_rate(Row& row)
{
    blitz_struct r = row.rateFader.refresh();
    if (r.bitmap && row.rateFader.pressed()) row.rate = 192 / step_length_divisor(row.rateFader.value);
    return r;
}

// Any redraw of the DIRECT fader, a mere hover included, sets the direction of travel.
template <class Row>
blitz_struct refresh_direction(Row& row)
{
    blitz_struct r = row.directFader.refresh();
    if (r.bitmap) row.forward = row.directFader.value != Backward ? 1 : 0;
    return r;
}

template <class Row>
blitz_struct refresh_common_item(Row& row, int i)
{
    if (i >= StepButtonItem && i < StepButtonItem + StepsPerRow) return row.stepButtons[i - StepButtonItem].refresh();
    switch (i) {
    case LoopBarItem: return row.loopBar.refresh();
    case RateDisItem: return row.rateDis.refresh(step_length_divisor(row.rateFader.value));
    case StepDisItem: return row.stepDis.refresh(row.stepFader.value);
    case RateFaderItem: return refresh_rate(row);
    case StepFaderItem: return row.stepFader.refresh();
    case DirectFaderItem: return refresh_direction(row);
    default: return BSNULL;
    }
}

// A loop bar dragged out of order still plays the steps between its two markers.
int loop_low(const ButLed& bar) { return std::min(bar.start, bar.end); }
int loop_high(const ButLed& bar) { return std::max(bar.start, bar.end); }

template <class Row>
void ready_row(Row& row)
{
    int width = row.stepFader.value;
    if (row.directFader.value == Backward) {
        row.forward = 0;
        row.loopBar.current = loop_high(row.loopBar) + width;
    } else {
        row.forward = 1;
        row.loopBar.current = loop_low(row.loopBar) - width;
    }
}

// Moves the play position, lights the LED of the line that the new step's
// button selects and asks for the redraws; the caller turns the lit LED into
// the line's value. Draws and allocates nothing.
template <class Row>
void advance_and_select_line(Row& row)
{
    ButLed& bar = row.loopBar;
    int p = advance_play_position(bar.current, row.stepFader.value, row.directFader.value, bar.start, bar.end,
                                  row.forward);
    bar.current = p;
    bar.redraw = true;
    int s = (p >= 1 && p <= StepsPerRow) ? row.stepButtons[p - 1].get_state() : 0;
    row.led1.state = s == 2 ? 1 : 0;
    row.led2.state = s == 1 ? 1 : 0;
    row.led3.state = (s != 2 && s != 1) ? 1 : 0;
    row.led1.redraw = true;
    row.led2.redraw = true;
    row.led3.redraw = true;
}

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
// Sequencer rows: widgets and items of the three row classes
// ===========================================================================

namespace {

// Widget ids of the controller and gate rows, added to the row's id; the note
// row numbers its note widgets line by line and so moves the last two up.
enum LineId {
    LineFader1 = 6,
    LineDis1 = 7,
    LineFader2 = 8,
    LineDis2 = 9,
    LineFader3 = 10,
    LineDis3 = 11,
    LoopBarId = 12,
    StepButtonsId = 13,
    NoteLoopBarId = 15,
    NoteStepButtonsId = 16,
    ControllerFaderId = 20,
    ControllerDisId = 21,
};

constexpr int MidiValues = 128;
constexpr int LineTop[] = {25, 40, 55};  // value lines 1 to 3, relative to the row

Dis3 rate_display(int id, const Skin& skin, int x, int y) { return {id + RateDisId, skin, x + 40, y + 25, 16}; }
Fader rate_fader(int id, const Skin& skin, int x, int y)
{
    return {id + RateFaderId, skin, x + 65, y + 25, 120, 0, 6, 4, 7};
}
Dis3 step_display(int id, const Skin& skin, int x, int y) { return {id + StepDisId, skin, x + 40, y + 40, 1}; }
Fader step_fader(int id, const Skin& skin, int x, int y)
{
    return {id + StepFaderId, skin, x + 65, y + 40, 120, 1, 16, 1, 16};
}
Fader direct_fader(int id, const Skin& skin, int x, int y)
{
    return {id + DirectFaderId, skin, x + 65, y + 55, 120, 0, 2, Forward, 3};
}
ButLed loop_bar(int id, const Skin& skin, int x, int y) { return {id, skin, x + 185, y + 10}; }

template <std::size_t... k>
std::array<But3, StepsPerRow> step_buttons(int id, const Skin& skin, int x, int y, std::index_sequence<k...>)
{
    return {{But3(id, skin, x + 185 + Cell * static_cast<int>(k), y + 25)...}};
}
std::array<But3, StepsPerRow> step_buttons(int id, const Skin& skin, int x, int y)
{
    return step_buttons(id, skin, x, y, std::make_index_sequence<StepsPerRow>());
}

Txt rate_label(const Skin& skin, int x, int y) { return {skin, x + 8, y + 28, "RATE", 0}; }
Txt step_label(const Skin& skin, int x, int y) { return {skin, x + 8, y + 43, "STEP", 0}; }
Txt direct_label(const Skin& skin, int x, int y) { return {skin, x + 8, y + 58, "DIRECT", 0}; }
Txt title_label(const Skin& skin, int x, int y, const char* title) { return {skin, x + 8, y + 8, title, 1}; }
Led line_led(const Skin& skin, int x, int y, int line) { return {skin, x + 425, y + LineTop[line - 1]}; }

// A 0 to 127 fader with its display, on line 1 to 3 of a controller or gate row.
Fader line_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + LineFader1 + 2 * (line - 1), skin, x + 440, y + LineTop[line - 1], 144, 0, 127, 64, MidiValues};
}
Dis3 line_display(int id, const Skin& skin, int x, int y, int line)
{
    return {id + LineDis1 + 2 * (line - 1), skin, x + 584, y + LineTop[line - 1], 64};
}

// A note line of the note row: semitone fader, note display, octave fader.
Fader semitone_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + 6 + 3 * (line - 1), skin, x + 440, y + LineTop[line - 1], 72, 0, 11, 0, 12};
}
DisN note_display(int id, const Skin& skin, int x, int y, int line)
{
    return {id + 7 + 3 * (line - 1), skin, x + 512, y + LineTop[line - 1], 36};
}
Fader octave_fader(int id, const Skin& skin, int x, int y, int line)
{
    return {id + 8 + 3 * (line - 1), skin, x + 537, y + LineTop[line - 1], 72, 0, 9, 3, 10};
}

template <class Row>
void set_head(Row& row, int id, int items, const Skin& skin)
{
    row.id = id;
    row.items = items;
    row.rate = 12;
    row.forward = 1;
    row.panelBitmap = skin.row_panel;
}

// True when item i is one of the three items that begin at first.
bool one_of_three(int i, int first) { return i >= first && i < first + 3; }

// The value lines of the controller and gate rows: the three value faders and
// displays, the labels and the LEDs.
template <class Row>
blitz_struct draw_value_line_item(Row& row, int i, Fader* const faders[3], Dis3* const displays[3])
{
    Txt* labels[] = {&row.rateTxt, &row.stepTxt, &row.directTxt};
    Led* leds[] = {&row.led1, &row.led2, &row.led3};
    if (one_of_three(i, LineFaderItem)) return faders[i - LineFaderItem]->draw(0);
    if (one_of_three(i, LineDisItem)) return displays[i - LineDisItem]->draw(0);
    if (one_of_three(i, LabelDrawItem)) return labels[i - LabelDrawItem]->draw();
    if (one_of_three(i, LedItem)) return leds[i - LedItem]->draw();
    return BSNULL;
}

template <class Row>
blitz_struct refresh_value_line_item(Row& row, int i, Fader* const faders[3], Dis3* const displays[3])
{
    Led* leds[] = {&row.led1, &row.led2, &row.led3};
    if (one_of_three(i, LineFaderItem)) return faders[i - LineFaderItem]->refresh();
    if (one_of_three(i, LineDisItem)) return displays[i - LineDisItem]->refresh(faders[i - LineDisItem]->value);
    if (one_of_three(i, LedItem)) return leds[i - LedItem]->refresh();
    return BSNULL;
}

// The value of the line whose LED step() has lit.
template <class Row>
int lit_line_value(const Row& row, int line1, int line2, int line3)
{
    return row.led1.state * line1 + row.led2.state * line2 + row.led3.state * line3;
}

}  // namespace

// ---------------------------------------------------------------------------
// Controller row
// ---------------------------------------------------------------------------

Row_Mode::Row_Mode(int id, Skin skin, int x, int y)
    : rateDis(rate_display(id, skin, x, y)),
      rateFader(rate_fader(id, skin, x, y)),
      stepDis(step_display(id, skin, x, y)),
      stepFader(step_fader(id, skin, x, y)),
      directFader(direct_fader(id, skin, x, y)),
      controllerFader(id + ControllerFaderId, skin, x + 440, y + 10, 144, 0, 127, 1, MidiValues),
      controllerDis(id + ControllerDisId, skin, x + 584, y + 10, 1),
      valueFader1(line_fader(id, skin, x, y, 1)),
      valueDis1(line_display(id, skin, x, y, 1)),
      valueFader2(line_fader(id, skin, x, y, 2)),
      valueDis2(line_display(id, skin, x, y, 2)),
      valueFader3(line_fader(id, skin, x, y, 3)),
      valueDis3(line_display(id, skin, x, y, 3)),
      loopBar(loop_bar(id + LoopBarId, skin, x, y)),
      stepButtons(step_buttons(id + StepButtonsId, skin, x, y)),
      titleTxt(title_label(skin, x, y, "CONTROLLER")),
      rateTxt(rate_label(skin, x, y)),
      stepTxt(step_label(skin, x, y)),
      directTxt(direct_label(skin, x, y)),
      led1(line_led(skin, x, y, 1)),
      led2(line_led(skin, x, y, 2)),
      led3(line_led(skin, x, y, 3)),
      x(x),
      y(y)
{
    set_head(*this, id, ControllerRowItems, skin);
}

blitz_struct Row_Mode::drawpanel() { return {panelBitmap, x, y, 0}; }

blitz_struct Row_Mode::draw(int i)
{
    Fader* faders[] = {&valueFader1, &valueFader2, &valueFader3};
    Dis3* displays[] = {&valueDis1, &valueDis2, &valueDis3};
    if (i < CommonItems) return draw_common_item(*this, i);
    if (i < RefreshedItems) return draw_value_line_item(*this, i, faders, displays);
    if (i == TitleDrawItem) return titleTxt.draw();
    if (i == ControllerFaderDrawItem) return controllerFader.draw(0);
    if (i == ControllerDisDrawItem) return controllerDis.draw(0);
    return BSNULL;
}

blitz_struct Row_Mode::refresh(int i)
{
    release_capture_when_no_button();
    Fader* faders[] = {&valueFader1, &valueFader2, &valueFader3};
    Dis3* displays[] = {&valueDis1, &valueDis2, &valueDis3};
    if (i < CommonItems) return refresh_common_item(*this, i);
    if (i < RefreshedItems) return refresh_value_line_item(*this, i, faders, displays);
    if (i == ControllerFaderRefreshItem) return controllerFader.refresh();
    if (i == ControllerDisRefreshItem) return controllerDis.refresh(controllerFader.value);
    return BSNULL;
}

void Row_Mode::ready() { ready_row(*this); }

int Row_Mode::step()
{
    advance_and_select_line(*this);
    return lit_line_value(*this, valueFader1.value, valueFader2.value, valueFader3.value);
}

// ---------------------------------------------------------------------------
// Gate row
// ---------------------------------------------------------------------------

Row_Gate::Row_Gate(int id, Skin skin, int x, int y)
    : rateDis(rate_display(id, skin, x, y)),
      rateFader(rate_fader(id, skin, x, y)),
      stepDis(step_display(id, skin, x, y)),
      stepFader(step_fader(id, skin, x, y)),
      directFader(direct_fader(id, skin, x, y)),
      velocityFader1(line_fader(id, skin, x, y, 1)),
      velocityDis1(line_display(id, skin, x, y, 1)),
      velocityFader2(line_fader(id, skin, x, y, 2)),
      velocityDis2(line_display(id, skin, x, y, 2)),
      velocityFader3(line_fader(id, skin, x, y, 3)),
      velocityDis3(line_display(id, skin, x, y, 3)),
      loopBar(loop_bar(id + LoopBarId, skin, x, y)),
      stepButtons(step_buttons(id + StepButtonsId, skin, x, y)),
      titleTxt(title_label(skin, x, y, "VELOCITY")),
      rateTxt(rate_label(skin, x, y)),
      stepTxt(step_label(skin, x, y)),
      directTxt(direct_label(skin, x, y)),
      led1(line_led(skin, x, y, 1)),
      led2(line_led(skin, x, y, 2)),
      led3(line_led(skin, x, y, 3)),
      x(x),
      y(y)
{
    set_head(*this, id, GateRowItems, skin);
}

blitz_struct Row_Gate::drawpanel() { return {panelBitmap, x, y, 0}; }

blitz_struct Row_Gate::draw(int i)
{
    Fader* faders[] = {&velocityFader1, &velocityFader2, &velocityFader3};
    Dis3* displays[] = {&velocityDis1, &velocityDis2, &velocityDis3};
    if (i < CommonItems) return draw_common_item(*this, i);
    if (i < RefreshedItems) return draw_value_line_item(*this, i, faders, displays);
    if (i == TitleDrawItem) return titleTxt.draw();
    return BSNULL;
}

blitz_struct Row_Gate::refresh(int i)
{
    release_capture_when_no_button();
    Fader* faders[] = {&velocityFader1, &velocityFader2, &velocityFader3};
    Dis3* displays[] = {&velocityDis1, &velocityDis2, &velocityDis3};
    if (i < CommonItems) return refresh_common_item(*this, i);
    return refresh_value_line_item(*this, i, faders, displays);
}

void Row_Gate::ready() { ready_row(*this); }

int Row_Gate::step()
{
    advance_and_select_line(*this);
    return lit_line_value(*this, velocityFader1.value, velocityFader2.value, velocityFader3.value);
}

// ---------------------------------------------------------------------------
// Note row
// ---------------------------------------------------------------------------

Row_Note::Row_Note(int id, Skin skin, int x, int y)
    : rateDis(rate_display(id, skin, x, y)),
      rateFader(rate_fader(id, skin, x, y)),
      stepDis(step_display(id, skin, x, y)),
      stepFader(step_fader(id, skin, x, y)),
      directFader(direct_fader(id, skin, x, y)),
      noteFader1(semitone_fader(id, skin, x, y, 1)),
      noteDis1(note_display(id, skin, x, y, 1)),
      octaveFader1(octave_fader(id, skin, x, y, 1)),
      noteFader2(semitone_fader(id, skin, x, y, 2)),
      noteDis2(note_display(id, skin, x, y, 2)),
      octaveFader2(octave_fader(id, skin, x, y, 2)),
      noteFader3(semitone_fader(id, skin, x, y, 3)),
      noteDis3(note_display(id, skin, x, y, 3)),
      octaveFader3(octave_fader(id, skin, x, y, 3)),
      loopBar(loop_bar(id + NoteLoopBarId, skin, x, y)),
      stepButtons(step_buttons(id + NoteStepButtonsId, skin, x, y)),
      titleTxt(title_label(skin, x, y, "NOTE")),
      rateTxt(rate_label(skin, x, y)),
      stepTxt(step_label(skin, x, y)),
      directTxt(direct_label(skin, x, y)),
      led1(line_led(skin, x, y, 1)),
      led2(line_led(skin, x, y, 2)),
      led3(line_led(skin, x, y, 3)),
      x(x),
      y(y)
{
    set_head(*this, id, NoteRowItems, skin);
}

blitz_struct Row_Note::drawpanel() { return {panelBitmap, x, y, 0}; }

blitz_struct Row_Note::draw(int i)
{
    Fader* semitones[] = {&noteFader1, &noteFader2, &noteFader3};
    Fader* octaves[] = {&octaveFader1, &octaveFader2, &octaveFader3};
    DisN* displays[] = {&noteDis1, &noteDis2, &noteDis3};
    Txt* labels[] = {&rateTxt, &stepTxt, &directTxt};
    Led* leds[] = {&led1, &led2, &led3};
    if (i < CommonItems) return draw_common_item(*this, i);
    if (one_of_three(i, SemitoneFaderItem)) return semitones[i - SemitoneFaderItem]->draw(0);
    if (one_of_three(i, OctaveFaderItem)) return octaves[i - OctaveFaderItem]->draw(0);
    if (one_of_three(i, NoteDisItem)) return displays[i - NoteDisItem]->draw(0);
    if (one_of_three(i, NoteLabelDrawItem)) return labels[i - NoteLabelDrawItem]->draw();
    if (one_of_three(i, NoteLedDrawItem)) return leds[i - NoteLedDrawItem]->draw();
    if (i == NoteTitleDrawItem) return titleTxt.draw();
    return BSNULL;
}

blitz_struct Row_Note::refresh(int i)
{
    release_capture_when_no_button();
    Fader* semitones[] = {&noteFader1, &noteFader2, &noteFader3};
    Fader* octaves[] = {&octaveFader1, &octaveFader2, &octaveFader3};
    DisN* displays[] = {&noteDis1, &noteDis2, &noteDis3};
    Led* leds[] = {&led1, &led2, &led3};
    if (i < CommonItems) return refresh_common_item(*this, i);
    if (one_of_three(i, SemitoneFaderItem)) return semitones[i - SemitoneFaderItem]->refresh();
    if (one_of_three(i, OctaveFaderItem)) return octaves[i - OctaveFaderItem]->refresh();
    if (one_of_three(i, NoteDisItem)) {
        int line = i - NoteDisItem;
        return displays[line]->refresh(octaves[line]->value * 12 + semitones[line]->value);
    }
    if (one_of_three(i, NoteLedRefreshItem)) return leds[i - NoteLedRefreshItem]->refresh();
    return BSNULL;
}

void Row_Note::ready() { ready_row(*this); }

int Row_Note::step()
{
    advance_and_select_line(*this);
    return lit_line_value(*this, octaveFader1.value * 12 + noteFader1.value, octaveFader2.value * 12 + noteFader2.value,
                          octaveFader3.value * 12 + noteFader3.value);
}
