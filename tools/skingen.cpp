// Draws every skin picture of Kalverosin 4 from code.
//
//   skingen OUTDIR                   writes the 42 bitmaps into OUTDIR
//   skingen OUTDIR --preview FILE    also draws the panel from them in FILE, as the
//                                    program draws it (OUTDIR must be a knobcut/)
//
// The output is the same bytes on every run: noise comes from a fixed hash and
// the shading uses only + - * / and sqrt, so no library maths can shift a pixel.
// Every colour is stored already reduced to RGB 565, the depth the panel runs at,
// so the files show exactly what the program will show.
#include "Kalverosin4.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// ===========================================================================
// Colours, noise and the canvas
// ===========================================================================

struct Colour {
    float r, g, b;
};

Colour mix(Colour a, Colour b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour lighter(Colour c, float by) { return {c.r + by, c.g + by, c.b + by}; }

Colour times(Colour c, float k) { return {c.r * k, c.g * k, c.b * k}; }

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

float smooth(float t) { return t * t * (3.0f - 2.0f * t); }

std::uint32_t hash(std::uint32_t a, std::uint32_t b, std::uint32_t seed)
{
    std::uint32_t h = seed * 0x9E3779B1u;
    h ^= a * 0x85EBCA77u;
    h = (h << 13) | (h >> 19);
    h ^= b * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// In [0, 1).
float unit_noise(int x, int y, std::uint32_t seed)
{
    return static_cast<float>(hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed) >> 8) /
           16777216.0f;
}

int wrap(int v, int period) { return ((v % period) + period) % period; }

// Smooth value noise in [-1, 1] that repeats every period_x by period_y lattice
// cells, so a picture made of it tiles when its size is a whole number of cells.
float periodic_noise(float x, float y, int period_x, int period_y, std::uint32_t seed)
{
    int x0 = static_cast<int>(std::floor(x));
    int y0 = static_cast<int>(std::floor(y));
    float fx = smooth(x - static_cast<float>(x0));
    float fy = smooth(y - static_cast<float>(y0));
    auto at = [&](int i, int j) {
        return unit_noise(wrap(i, period_x), wrap(j, period_y), seed) * 2.0f - 1.0f;
    };
    float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
    float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
    return top + (bottom - top) * fy;
}

// Non-repeating noise along one axis (wood grain, brush streaks).
float line_noise(float x, std::uint32_t seed) { return periodic_noise(x, 0.0f, 1 << 20, 1, seed); }

constexpr Colour Magenta = {255, 0, 255};

// A picture being drawn, in floating point RGB, with an optional see-through
// flag per pixel for the masked glyph pictures.
struct Canvas {
    int w, h;
    std::vector<Colour> pixels;
    std::vector<bool> clear;
    // 0 rounds every colour to the nearest 565 colour (flat widget faces);
    // 1 dithers with fixed noise (large textured areas that would band).
    float dither = 0.0f;
    std::uint32_t dither_seed = 1;

    Canvas(int width, int height, Colour fill)
        : w(width), h(height), pixels(width * height, fill), clear(width * height, false)
    {
    }

    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
    Colour& at(int x, int y) { return pixels[y * w + x]; }
    Colour get(int x, int y) const { return pixels[y * w + x]; }
    void set(int x, int y, Colour c)
    {
        if (!inside(x, y)) return;
        pixels[y * w + x] = c;
        clear[y * w + x] = false;
    }
    void blend(int x, int y, Colour c, float amount)
    {
        if (inside(x, y) && amount > 0.0f) set(x, y, mix(get(x, y), c, clamp01(amount)));
    }
    void brighten(int x, int y, float by)
    {
        if (inside(x, y)) at(x, y) = lighter(at(x, y), by);
    }
    void paste(const Canvas& from, int left, int top)
    {
        for (int y = 0; y < from.h; ++y)
            for (int x = 0; x < from.w; ++x)
                if (!from.clear[y * from.w + x]) set(left + x, top + y, from.get(x, y));
    }
};

// A picture that shows nothing until glyph pixels are set on it.
Canvas see_through(int w, int h)
{
    Canvas canvas(w, h, Magenta);
    std::fill(canvas.clear.begin(), canvas.clear.end(), true);
    return canvas;
}

int level(float value, int top, float threshold)
{
    int l = static_cast<int>(std::floor(clamp01(value / 255.0f) * static_cast<float>(top) + threshold));
    return std::min(top, std::max(0, l));
}

// The 565 colour a pixel shows as, spread back to 8 bits per channel the way
// the 16-bit conversion reads it back (top bits repeated).
int stored_colour(const Canvas& canvas, int x, int y)
{
    if (canvas.clear[y * canvas.w + x]) return makecol24(255, 0, 255);
    Colour c = canvas.get(x, y);
    float threshold = 0.5f + (unit_noise(x, y, canvas.dither_seed) - 0.5f) * canvas.dither;
    int r = level(c.r, 31, threshold);
    int g = level(c.g, 63, threshold);
    int b = level(c.b, 31, threshold);
    // Only see-through pixels may come out as the mask colour.
    if (r == 31 && g == 0 && b == 31) g = 1;
    return makecol24((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

bool save(const Canvas& canvas, const std::string& path)
{
    BITMAP* bitmap = create_bitmap_ex(24, canvas.w, canvas.h);
    if (!bitmap) return false;
    for (int y = 0; y < canvas.h; ++y)
        for (int x = 0; x < canvas.w; ++x) putpixel(bitmap, x, y, stored_colour(canvas, x, y));
    bool ok = save_bitmap(path.c_str(), bitmap, nullptr) == 0;
    destroy_bitmap(bitmap);
    return ok;
}

// Share of a pixel covered by a disc, from 4 x 4 samples; smooth edges without
// any library maths.
float disc_coverage(int x, int y, float cx, float cy, float radius)
{
    int hits = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            float dx = static_cast<float>(x) + (static_cast<float>(i) + 0.5f) / 4.0f - cx;
            float dy = static_cast<float>(y) + (static_cast<float>(j) + 0.5f) / 4.0f - cy;
            if (dx * dx + dy * dy <= radius * radius) ++hits;
        }
    return static_cast<float>(hits) / 16.0f;
}

float distance(float x0, float y0, float x1, float y1)
{
    return std::sqrt((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0));
}

// Light falls from the top left: +1 on a top or left rim, -1 on a bottom or
// right rim, 0 inside, for a bevel `width` pixels wide.
int rim_side(int x, int y, int x0, int y0, int x1, int y1, int width)
{
    int top = y - y0, left = x - x0, bottom = y1 - y, right = x1 - x;
    int lit = std::min(top, left);
    int shaded = std::min(bottom, right);
    if (lit >= width && shaded >= width) return 0;
    return lit < shaded || (lit == shaded && top + left < bottom + right) ? 1 : -1;
}

// ===========================================================================
// Palette
// ===========================================================================

constexpr Colour PlateColour = {52, 55, 62};
constexpr Colour EdgeBlack = {12, 12, 14};
constexpr Colour SilkScreen = {226, 221, 200};
constexpr Colour TitleGold = {244, 196, 104};
constexpr Colour LedRed = {255, 74, 44};
constexpr Colour GlassRed = {30, 8, 8};
constexpr Colour WoodLight = {182, 122, 70};
constexpr Colour WoodDark = {120, 70, 36};
constexpr Colour WoodGrain = {84, 44, 22};
constexpr Colour WoodBorder = {22, 13, 8};

// ===========================================================================
// Glyphs: 5 x 9 capitals and digits, the display's lower-case note letters
// ===========================================================================

using Glyph = std::array<const char*, 9>;

const Glyph Capitals[26] = {
    {".###.", "#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "#...#"},  // A
    {"####.", "#...#", "#...#", "#...#", "####.", "#...#", "#...#", "#...#", "####."},  // B
    {".###.", "#...#", "#....", "#....", "#....", "#....", "#....", "#...#", ".###."},  // C
    {"###..", "#..#.", "#...#", "#...#", "#...#", "#...#", "#...#", "#..#.", "###.."},  // D
    {"#####", "#....", "#....", "#....", "####.", "#....", "#....", "#....", "#####"},  // E
    {"#####", "#....", "#....", "#....", "####.", "#....", "#....", "#....", "#...."},  // F
    {".###.", "#...#", "#....", "#....", "#.###", "#...#", "#...#", "#...#", ".####"},  // G
    {"#...#", "#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "#...#"},  // H
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."},  // I
    {"..###", "...#.", "...#.", "...#.", "...#.", "...#.", "#..#.", "#..#.", ".##.."},  // J
    {"#...#", "#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#", "#...#"},  // K
    {"#....", "#....", "#....", "#....", "#....", "#....", "#....", "#....", "#####"},  // L
    {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#", "#...#", "#...#"},  // M
    {"#...#", "##..#", "##..#", "#.#.#", "#.#.#", "#..##", "#..##", "#...#", "#...#"},  // N
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // O
    {"####.", "#...#", "#...#", "#...#", "####.", "#....", "#....", "#....", "#...."},  // P
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"},  // Q
    {"####.", "#...#", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#", "#...#"},  // R
    {".###.", "#...#", "#....", "#....", ".###.", "....#", "....#", "#...#", ".###."},  // S
    {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."},  // T
    {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // U
    {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#..", "..#.."},  // V
    {"#...#", "#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", "##.##", "#...#"},  // W
    {"#...#", "#...#", ".#.#.", ".#.#.", "..#..", ".#.#.", ".#.#.", "#...#", "#...#"},  // X
    {"#...#", "#...#", ".#.#.", ".#.#.", "..#..", "..#..", "..#..", "..#..", "..#.."},  // Y
    {"#####", "....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#....", "#####"},  // Z
};

const Glyph Digits[10] = {
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // 0
    {"..#..", ".##..", "#.#..", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"},  // 1
    {".###.", "#...#", "....#", "....#", "...#.", "..#..", ".#...", "#....", "#####"},  // 2
    {".###.", "#...#", "....#", "....#", "..##.", "....#", "....#", "#...#", ".###."},  // 3
    {"...#.", "..##.", ".#.#.", "#..#.", "#..#.", "#####", "...#.", "...#.", "...#."},  // 4
    {"#####", "#....", "#....", "####.", "....#", "....#", "....#", "#...#", ".###."},  // 5
    {"..##.", ".#...", "#....", "#....", "####.", "#...#", "#...#", "#...#", ".###."},  // 6
    {"#####", "....#", "....#", "...#.", "...#.", "..#..", "..#..", "..#..", "..#.."},  // 7
    {".###.", "#...#", "#...#", "#...#", ".###.", "#...#", "#...#", "#...#", ".###."},  // 8
    {".###.", "#...#", "#...#", "#...#", ".####", "....#", "....#", "...#.", ".##.."},  // 9
};

// On labels a zero must not read as the letter O.
const Glyph SlashedZero = {".###.", "#...#", "#...#", "#..##", "#.#.#", "##..#", "#...#", "#...#", ".###."};

// Note letters: six-pixel x-height, ascenders to the top, a short tail on g.
using TallGlyph = std::array<const char*, 10>;
const TallGlyph NoteLetters[7] = {
    {".....", ".....", ".....", ".###.", "#...#", "#....", "#....", "#...#", ".###.", "....."},  // c
    {"....#", "....#", "....#", ".####", "#...#", "#...#", "#...#", "#...#", ".####", "....."},  // d
    {".....", ".....", ".....", ".###.", "#...#", "#####", "#....", "#...#", ".###.", "....."},  // e
    {"..##.", ".#..#", ".#...", "####.", ".#...", ".#...", ".#...", ".#...", ".#...", "....."},  // f
    {".....", ".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."},  // g
    {".....", ".....", ".....", ".###.", "....#", ".####", "#...#", "#...#", ".####", "....."},  // a
    {"#....", "#....", "#....", "####.", "#...#", "#...#", "#...#", "#...#", "####.", "....."},  // b
};

const std::array<const char*, 7> Sharp = {".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#."};

// Calls paint(x, y) for every set pixel of a pattern placed at (left, top).
template <typename Rows, typename Paint>
void for_each_dot(const Rows& rows, int left, int top, Paint paint)
{
    for (int y = 0; y < static_cast<int>(rows.size()); ++y)
        for (int x = 0; rows[y][x]; ++x)
            if (rows[y][x] == '#') paint(left + x, top + y);
}

// Cells are 7 x 11: the glyph takes columns 0-4 and rows 1-9, leaving column 5
// for a shadow and column 6 empty between letters.
constexpr int CellWidth = 7;
constexpr int CellHeight = 11;
constexpr int GlyphTop = 1;

const Glyph& strip_glyph(int index)
{
    if (index < 26) return Capitals[index];
    if (index == 26) return SlashedZero;
    return Digits[index - 26];
}

Canvas glyph_strip_plain()
{
    Canvas strip = see_through(36 * CellWidth, CellHeight);
    for (int i = 0; i < 36; ++i)
        for_each_dot(strip_glyph(i), i * CellWidth, GlyphTop, [&](int x, int y) { strip.set(x, y, SilkScreen); });
    return strip;
}

// Titles: gold letters with a soft dark drop shadow one pixel down and right.
Canvas glyph_strip_shaded()
{
    Canvas strip = see_through(36 * CellWidth, CellHeight);
    const Colour shadow = {10, 10, 12};
    const Colour top_light = {255, 236, 178};
    for (int i = 0; i < 36; ++i) {
        const Glyph& glyph = strip_glyph(i);
        int left = i * CellWidth;
        for_each_dot(glyph, left + 1, GlyphTop + 1, [&](int x, int y) { strip.set(x, y, shadow); });
        for_each_dot(glyph, left, GlyphTop, [&](int x, int y) {
            // The upper strokes catch more light, like a raised letter.
            strip.set(x, y, y < GlyphTop + 4 ? top_light : TitleGold);
        });
    }
    return strip;
}

// Display digits sit one column in from each side, so three in a row keep a
// two-pixel gap.
Canvas display_digit(int digit)
{
    Canvas glyph = see_through(CellWidth, CellHeight);
    for_each_dot(Digits[digit], 1, GlyphTop, [&](int x, int y) { glyph.set(x, y, LedRed); });
    return glyph;
}

// A note name lines up with the digit places of the display: the letter where
// the hundreds go, the sharp sign where the tens go, columns 13 and 0 empty.
Canvas note_name(int letter, bool sharp)
{
    Canvas glyph = see_through(2 * CellWidth, CellHeight);
    for_each_dot(NoteLetters[letter], 1, GlyphTop, [&](int x, int y) { glyph.set(x, y, LedRed); });
    if (sharp) for_each_dot(Sharp, 8, GlyphTop, [&](int x, int y) { glyph.set(x, y, LedRed); });
    return glyph;
}

// ===========================================================================
// Metal: the background texture, plates and screws
// ===========================================================================

// Brushed steel that repeats every 300 x 200 pixels: all noise here is periodic
// on lattices that divide the tile.
Canvas panel_texture()
{
    Canvas tile(300, 200, Colour{});
    tile.dither = 1.0f;
    tile.dither_seed = 11;
    for (int y = 0; y < tile.h; ++y)
        for (int x = 0; x < tile.w; ++x) {
            float fx = static_cast<float>(x), fy = static_cast<float>(y);
            float streaks = 0.50f * periodic_noise(fx / 60.0f, fy / 2.0f, 5, 100, 21) +
                            0.30f * periodic_noise(fx / 15.0f, fy, 20, 200, 22) +
                            0.20f * periodic_noise(fx / 5.0f, fy, 60, 200, 23);
            float clouds = periodic_noise(fx / 50.0f, fy / 40.0f, 6, 5, 24);
            float grain = unit_noise(x, y, 25) - 0.5f;
            float v = 96.0f + 16.0f * streaks + 6.0f * clouds + 6.0f * grain;
            tile.at(x, y) = {v - 3.0f, v, v + 5.0f};
        }
    return tile;
}

// Anodised plate with faint horizontal brushing, no edges yet.
Canvas brushed_plate(int w, int h, std::uint32_t seed)
{
    Canvas plate(w, h, PlateColour);
    plate.dither = 1.0f;
    plate.dither_seed = seed;
    for (int y = 0; y < h; ++y) {
        float row = line_noise(static_cast<float>(y) / 3.0f, seed + 1);
        for (int x = 0; x < w; ++x) {
            float streak = line_noise(static_cast<float>(x) / 40.0f + static_cast<float>(y) * 7.31f, seed + 2);
            plate.brighten(x, y, 2.0f * row + 3.0f * streak);
        }
    }
    return plate;
}

// Raised edge: a dark outline, then a lit top/left and shaded bottom/right.
void bevel_plate(Canvas& plate)
{
    for (int y = 0; y < plate.h; ++y)
        for (int x = 0; x < plate.w; ++x) {
            if (x == 0 || y == 0 || x == plate.w - 1 || y == plate.h - 1) {
                plate.set(x, y, EdgeBlack);
                continue;
            }
            int side = rim_side(x, y, 1, 1, plate.w - 2, plate.h - 2, 2);
            bool outer = rim_side(x, y, 1, 1, plate.w - 2, plate.h - 2, 1) != 0;
            if (side > 0) plate.brighten(x, y, outer ? 30.0f : 14.0f);
            if (side < 0) plate.at(x, y) = times(plate.at(x, y), outer ? 0.45f : 0.72f);
        }
}

// Sinks the pixels where `in_well` holds: darker floor, shadow along its
// top/left edge and a lit lip along its bottom/right edge.
template <typename Inside>
void engrave_well(Canvas& plate, Inside in_well)
{
    Canvas before = plate;
    for (int y = 1; y < plate.h - 1; ++y)
        for (int x = 1; x < plate.w - 1; ++x) {
            if (!in_well(x, y)) continue;
            Colour floor = times(before.get(x, y), 0.70f);
            bool top_edge = !in_well(x, y - 1) || !in_well(x - 1, y);
            bool bottom_edge = !in_well(x, y + 1) || !in_well(x + 1, y);
            if (top_edge) floor = times(floor, 0.45f);
            else if (bottom_edge) floor = lighter(before.get(x, y), 26.0f);
            plate.set(x, y, floor);
        }
}

// A slotted screw head sunk in its hole, the slot turned by (turn_x, turn_y).
void screw(Canvas& plate, float cx, float cy, float turn_x, float turn_y)
{
    const float radius = 3.4f;
    for (int y = static_cast<int>(cy - radius) - 2; y <= static_cast<int>(cy + radius) + 1; ++y)
        for (int x = static_cast<int>(cx - radius) - 2; x <= static_cast<int>(cx + radius) + 1; ++x) {
            float px = static_cast<float>(x) + 0.5f - cx, py = static_cast<float>(y) + 0.5f - cy;
            plate.blend(x, y, EdgeBlack, disc_coverage(x, y, cx, cy, radius + 0.7f) * 0.9f);
            // Dome lit from the top left: bright there, dull towards the bottom right.
            float light = clamp01(0.55f - (px + py) / (2.6f * radius));
            Colour metal = mix(Colour{96, 98, 104}, Colour{226, 228, 232}, light);
            float across = px * turn_y - py * turn_x;
            if (across > -0.6f && across < 0.6f) metal = {26, 26, 30};
            plate.blend(x, y, metal, disc_coverage(x, y, cx, cy, radius));
        }
}

constexpr float ScrewInset = 5.5f;

void corner_screws(Canvas& plate, std::uint32_t seed)
{
    // Slots turned the way a hand leaves them: a few fixed directions.
    const float turns[][2] = {{1.0f, 0.0f}, {0.8f, 0.6f}, {0.6f, -0.8f}, {0.0f, 1.0f}, {0.92f, 0.38f}, {0.38f, -0.92f}};
    const float inset = ScrewInset;
    const float spots[][2] = {{inset, inset},
                              {static_cast<float>(plate.w) - inset, inset},
                              {inset, static_cast<float>(plate.h) - inset},
                              {static_cast<float>(plate.w) - inset, static_cast<float>(plate.h) - inset}};
    for (int i = 0; i < 4; ++i) {
        const float* turn = turns[hash(static_cast<std::uint32_t>(i), 0, seed) % 6];
        screw(plate, spots[i][0], spots[i][1], turn[0], turn[1]);
    }
}

// The step matrix, the indicator LEDs and the value faders stand in one
// recessed well that reaches left under the rate faders (the labels and
// their displays stay on the plate); it gives way around the right-hand screws.
bool in_row_well(int x, int y)
{
    bool upper = x >= 181 && x <= 612 && y >= 6 && y <= 73;
    bool lower = x >= 62 && x <= 612 && y >= 21 && y <= 73;
    float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
    float screw_x = 620.0f - ScrewInset;
    bool near_screw = distance(px, py, screw_x, ScrewInset) < 5.5f ||
                      distance(px, py, screw_x, 80.0f - ScrewInset) < 5.5f;
    return (upper || lower) && !near_screw;
}

Canvas row_panel()
{
    Canvas plate = brushed_plate(620, 80, 31);
    bevel_plate(plate);
    engrave_well(plate, in_row_well);
    // Marks over the first step of each bar of four, just above the LED strip.
    for (int bar = 0; bar < 4; ++bar)
        for (int x = 190; x <= 194; ++x) plate.blend(x + 60 * bar, 8, TitleGold, 0.55f);
    corner_screws(plate, 32);
    return plate;
}

Canvas cock_panel()
{
    Canvas plate = brushed_plate(620, 50, 41);
    bevel_plate(plate);
    corner_screws(plate, 42);
    return plate;
}

// Tiny 3 x 5 figures for the step numbers on the binding strip.
const std::array<const char*, 5> SmallDigits[10] = {
    {"###", "#.#", "#.#", "#.#", "###"}, {".#.", "##.", ".#.", ".#.", "###"}, {"###", "..#", "###", "#..", "###"},
    {"###", "..#", ".##", "..#", "###"}, {"#.#", "#.#", "###", "..#", "..#"}, {"###", "#..", "###", "..#", "###"},
    {"###", "#..", "###", "#.#", "###"}, {"###", "..#", ".#.", ".#.", ".#."}, {"###", "#.#", "###", "#.#", "###"},
    {"###", "#.#", "###", "..#", "###"},
};

// Joins the second and third rows under the step columns: a dark bar with the
// step numbers, each group of four starting in gold.
Canvas row_binding()
{
    Canvas bar = brushed_plate(240, 10, 51);
    for (int y = 0; y < bar.h; ++y)
        for (int x = 0; x < bar.w; ++x) {
            bar.at(x, y) = times(bar.at(x, y), 0.72f);
            if (y == 0 || y == bar.h - 1) bar.set(x, y, EdgeBlack);
            else if (y == 1) bar.brighten(x, y, 16.0f);
            else if (y == bar.h - 2) bar.at(x, y) = times(bar.at(x, y), 0.6f);
        }
    for (int step = 0; step < 16; ++step) {
        int number = step + 1;
        Colour ink = step % 4 == 0 ? TitleGold : times(SilkScreen, 0.8f);
        int width = number < 10 ? 3 : 7;
        int left = step * 15 + (15 - width) / 2;
        auto paint = [&](int x, int y) { bar.set(x, y, ink); };
        if (number >= 10) {
            for_each_dot(SmallDigits[number / 10], left, 2, paint);
            left += 4;
        }
        for_each_dot(SmallDigits[number % 10], left, 2, paint);
        if (step % 4 == 0 && step > 0)
            for (int y = 2; y < bar.h - 2; ++y) bar.at(step * 15, y) = times(bar.at(step * 15, y), 0.5f);
    }
    return bar;
}

// ===========================================================================
// Buttons and LEDs
// ===========================================================================

// A square cap in a dark frame. Raised caps are lit on the top/left rim;
// selected caps sink (rims swap) and glow amber from inside.
Canvas button_face(bool pointer_over, bool selected)
{
    Canvas cap(15, 15, EdgeBlack);
    Colour face = selected ? Colour{236, 138, 40} : Colour{122, 125, 132};
    if (pointer_over) face = selected ? Colour{255, 186, 82} : Colour{160, 164, 172};
    Colour frame = pointer_over ? Colour{214, 210, 196} : EdgeBlack;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x) {
            if (x == 0 || y == 0 || x == 14 || y == 14) {
                cap.set(x, y, frame);
                continue;
            }
            int side = rim_side(x, y, 1, 1, 13, 13, 2);
            bool outer = rim_side(x, y, 1, 1, 13, 13, 1) != 0;
            if (selected) side = -side;
            Colour c = face;
            if (side > 0) c = lighter(face, outer ? 60.0f : 30.0f);
            if (side < 0) c = times(face, outer ? 0.42f : 0.66f);
            // A slight dome on the face, brighter towards the light.
            if (side == 0) c = lighter(face, static_cast<float>(14 - x - y) * (selected ? 2.5f : 1.5f));
            cap.set(x, y, c);
        }
    if (selected) {
        // The lamp behind a pressed cap shows as a hot spot in its middle.
        for (int y = 4; y <= 10; ++y)
            for (int x = 4; x <= 10; ++x)
                cap.blend(x, y, Colour{255, 240, 190}, disc_coverage(x, y, 7.5f, 7.5f, 2.6f) * 0.7f);
    }
    return cap;
}

enum class LedLook { OutsideLoop, Unlit, Lit };

// A round lens in a dark square housing, centred on the cell.
Canvas led_face(LedLook look)
{
    Canvas led(15, 15, Colour{40, 42, 47});
    const float c = 7.5f;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x) {
            int side = rim_side(x, y, 0, 0, 14, 14, 1);
            if (side > 0) led.set(x, y, Colour{62, 64, 70});
            if (side < 0) led.set(x, y, Colour{16, 16, 19});
        }
    Colour lens_dark = {26, 26, 28}, lens_bright = {58, 58, 62};
    if (look == LedLook::Unlit) lens_dark = {70, 12, 10}, lens_bright = {150, 36, 28};
    if (look == LedLook::Lit) lens_dark = {236, 46, 24}, lens_bright = {255, 226, 190};
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x) {
            if (look == LedLook::Lit) {
                // Light spilling onto the housing around the lens.
                float d = distance(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f, c, c);
                led.blend(x, y, Colour{150, 40, 26}, clamp01((7.5f - d) / 3.0f) * 0.6f);
            }
            led.blend(x, y, Colour{8, 8, 10}, disc_coverage(x, y, c, c, 5.6f));
            float px = static_cast<float>(x) + 0.5f - c, py = static_cast<float>(y) + 0.5f - c;
            float d = std::sqrt(px * px + py * py) / 4.5f;
            float glow = look == LedLook::Lit ? clamp01(1.0f - d) : clamp01(0.6f - (px + py) / 9.0f);
            Colour lens = mix(lens_dark, lens_bright, smooth(glow));
            led.blend(x, y, lens, disc_coverage(x, y, c, c, 4.6f));
        }
    // Specular glint on the lens, top left.
    float glint = look == LedLook::Lit ? 0.8f : 0.55f;
    led.blend(5, 5, Colour{255, 255, 255}, glint);
    led.blend(6, 5, Colour{255, 255, 255}, glint * 0.4f);
    led.blend(5, 6, Colour{255, 255, 255}, glint * 0.4f);
    return led;
}

// ===========================================================================
// Wood: fader beds and the knob that slides on them
// ===========================================================================

// Plank-sawn grain: dark lines along the bed that waver slowly across the
// rows, fibres in between, and broad lighter and darker stretches.
Colour wood_at(int x, int y, std::uint32_t seed)
{
    float fx = static_cast<float>(x), fy = static_cast<float>(y);
    float waver = 3.0f * line_noise(fx / 30.0f, seed) + 0.9f * line_noise(fx / 8.0f, seed + 1);
    float u = (fy + waver) / 3.6f + 0.4f * line_noise(fx / 45.0f, seed + 4);
    float band = std::fabs(u - std::floor(u) - 0.5f) * 2.0f;  // 0..1 triangle across each grain line
    float line = smooth(clamp01((band - 0.55f) / 0.3f));
    float fibre = periodic_noise(fx / 5.0f, fy, 1 << 16, 1 << 16, seed + 2);
    float stretch = line_noise(fx / 40.0f + fy / 25.0f, seed + 3);
    Colour c = mix(WoodLight, WoodDark, clamp01(0.3f - 0.25f * stretch + 0.12f * fibre));
    return mix(c, WoodGrain, 0.75f * line);
}

Canvas fader_bed(int width, std::uint32_t seed)
{
    Canvas bed(width, 15, WoodBorder);
    bed.dither = 0.6f;
    bed.dither_seed = seed;
    const int slot_left = 5, slot_right = width - 6;
    for (int y = 1; y < 14; ++y)
        for (int x = 1; x < width - 1; ++x) {
            Colour c = wood_at(x, y, seed);
            if (y == 1) c = lighter(c, 26.0f);
            if (y == 13) c = times(c, 0.6f);
            if (x == 1) c = lighter(c, 14.0f);
            if (x == width - 2) c = times(c, 0.7f);
            bool over_slot = x >= slot_left && x <= slot_right;
            if (over_slot && y == 5) c = times(c, 0.62f);   // shadow falling into the slot
            if (over_slot && y == 9) c = lighter(c, 24.0f); // worn lip below it
            bool slot_end = x == slot_left || x == slot_right;
            bool in_slot = over_slot && y >= 6 && y <= 8 && !(slot_end && y != 7);  // rounded ends
            if (in_slot) c = y == 6 ? Colour{4, 3, 2} : Colour{18, 12, 8};
            bed.set(x, y, c);
        }
    return bed;
}

// Copied opaque over the bed, so its top and bottom rows continue the bed's
// dark border and its cut corners show wood in the tones of the bed's edges.
// The cap is a ridge: a lit left facet, a shaded right one, the grip line on top.
Canvas fader_knob(bool highlighted)
{
    const Colour wood = mix(WoodLight, WoodDark, 0.3f);
    const Colour cap = highlighted ? Colour{200, 204, 212} : Colour{146, 149, 156};
    Canvas knob(15, 15, Colour{14, 14, 16});
    for (int x = 0; x < 15; ++x) {
        knob.set(x, 0, WoodBorder);
        knob.set(x, 14, WoodBorder);
    }
    knob.set(0, 1, lighter(wood, 26.0f));
    knob.set(14, 1, lighter(wood, 26.0f));
    knob.set(0, 13, times(wood, 0.6f));
    knob.set(14, 13, times(wood, 0.6f));
    for (int y = 2; y <= 12; ++y)
        for (int x = 1; x <= 13; ++x) {
            float facet = x < 7 ? 1.0f - static_cast<float>(x - 1) / 12.0f : 0.45f - static_cast<float>(x - 8) / 14.0f;
            Colour c = times(cap, 0.72f + 0.4f * facet);
            int side = rim_side(x, y, 1, 2, 13, 12, 1);
            if (side > 0) c = lighter(cap, 46.0f);
            if (side < 0) c = times(cap, 0.5f);
            knob.set(x, y, c);
        }
    const Colour groove = {22, 22, 26};
    const Colour grip = highlighted ? Colour{255, 112, 54} : Colour{244, 242, 232};
    for (int y = 3; y <= 11; ++y) {
        knob.set(6, y, groove);
        knob.set(7, y, grip);
        knob.set(8, y, groove);
    }
    return knob;
}

// ===========================================================================
// Display window
// ===========================================================================

// Dark red glass in a recessed bezel; the outer ring is black so that the
// display may overlap a fader's edge without a seam.
Canvas display_window()
{
    Canvas display(25, 15, EdgeBlack);
    for (int y = 1; y < 14; ++y)
        for (int x = 1; x < 24; ++x) {
            bool bezel = x == 1 || y == 1 || x == 23 || y == 13;
            if (bezel) {
                int side = rim_side(x, y, 1, 1, 23, 13, 1);
                display.set(x, y, side > 0 ? Colour{36, 36, 40} : Colour{96, 98, 104});
                continue;
            }
            Colour glass = GlassRed;
            if (y == 2) glass = {52, 16, 14};  // reflection along the top of the glass
            display.set(x, y, glass);
        }
    return display;
}

Canvas display_showing_zeroes()
{
    Canvas display = display_window();
    for (int place = 0; place < 3; ++place) display.paste(display_digit(0), 2 + 7 * place, 2);
    return display;
}

// ===========================================================================
// Writing the skin
// ===========================================================================

struct Drawing {
    std::string name;
    Canvas picture;
};

std::vector<Drawing> all_pictures()
{
    std::vector<Drawing> files;
    files.push_back({"paneltexture.bmp", panel_texture()});
    files.push_back({"button_15x15_ut_up.bmp", button_face(false, false)});
    files.push_back({"button_15x15_ut_p.bmp", button_face(false, true)});
    files.push_back({"button_15x15_t_up.bmp", button_face(true, false)});
    files.push_back({"button_15x15_t_p.bmp", button_face(true, true)});
    files.push_back({"buttonled_15x15_out_tx.bmp", led_face(LedLook::OutsideLoop)});
    files.push_back({"buttonled_15x15_off_gr.bmp", led_face(LedLook::Unlit)});
    files.push_back({"buttonled_15x15_on.bmp", led_face(LedLook::Lit)});
    files.push_back({"fader_bett_72_wood.bmp", fader_bed(72, 61)});
    files.push_back({"fader_bett_120_wood.bmp", fader_bed(120, 62)});
    files.push_back({"fader_bett_144_wood.bmp", fader_bed(144, 63)});
    files.push_back({"faderknob_15x15_ut_tx.bmp", fader_knob(false)});
    files.push_back({"faderknob_15x15_t_tx.bmp", fader_knob(true)});
    files.push_back({"display3_plain.bmp", display_window()});
    files.push_back({"display3.bmp", display_showing_zeroes()});
    for (int d = 0; d < 10; ++d) files.push_back({"dd" + std::to_string(d) + ".bmp", display_digit(d)});
    // Pitch order; letters index NoteLetters (c d e f g a b).
    const struct {
        const char* name;
        int letter;
        bool sharp;
    } notes[12] = {{"c", 0, false}, {"cis", 0, true}, {"d", 1, false}, {"dis", 1, true},
                   {"e", 2, false}, {"f", 3, false},  {"fis", 3, true}, {"g", 4, false},
                   {"gis", 4, true}, {"a", 5, false}, {"ais", 5, true}, {"b", 6, false}};
    for (const auto& note : notes)
        files.push_back({std::string("dd") + note.name + ".bmp", note_name(note.letter, note.sharp)});
    files.push_back({"alphabet.bmp", glyph_strip_plain()});
    files.push_back({"alphabet_shadex.bmp", glyph_strip_shaded()});
    files.push_back({"row_panel.bmp", row_panel()});
    files.push_back({"rowbind.bmp", row_binding()});
    files.push_back({"cock_panel.bmp", cock_panel()});
    return files;
}

// Writes every file of the program's table of skin files, and nothing else.
bool write_skin(const std::string& directory)
{
    mkdir(directory.c_str(), 0755);
    std::map<std::string, Canvas> drawings;
    for (Drawing& drawing : all_pictures()) drawings.emplace(drawing.name, drawing.picture);
    for (const SkinFile& file : SkinFiles) {
        std::string name = std::filesystem::path(file.name).filename().string();
        auto drawing = drawings.find(name);
        if (drawing == drawings.end()) {
            std::fprintf(stderr, "skingen: nothing draws %s\n", file.name);
            return false;
        }
        const Canvas& picture = drawing->second;
        if (picture.w < file.w || picture.h < file.h) {
            std::fprintf(stderr, "skingen: %s is drawn smaller than the panel copies it\n", file.name);
            return false;
        }
        std::string path = directory + "/" + name;
        if (!save(picture, path)) {
            std::fprintf(stderr, "skingen: cannot write %s\n", path.c_str());
            return false;
        }
        drawings.erase(drawing);
    }
    for (const auto& unused : drawings) std::fprintf(stderr, "skingen: %s is no skin file\n", unused.first.c_str());
    return drawings.empty();
}

// ===========================================================================
// Preview: the panel as the program draws it from the written files
// ===========================================================================

// The program reads its skin from a folder named knobcut/, so the preview can
// be drawn only from one.
bool write_preview(const std::string& directory, const std::string& path)
{
    std::filesystem::path written = std::filesystem::absolute(directory).lexically_normal();
    if (written.filename() != "knobcut") {
        std::fprintf(stderr, "skingen: the preview is drawn from a folder named knobcut, not from %s\n",
                     directory.c_str());
        return false;
    }
    try {
        Skin skin(written.parent_path().string());
        BITMAP* panel = draw_first_picture(skin);
        bool ok = save_bitmap(path.c_str(), panel, nullptr) == 0;
        destroy_bitmap(panel);
        skin.release();
        return ok;
    } catch (const SkinError& error) {
        std::fprintf(stderr, "skingen: %s\n", error.what());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool preview = argc == 4 && std::string(argv[2]) == "--preview";
    if (argc != 2 && !preview) {
        std::fprintf(stderr, "usage: skingen OUTDIR [--preview FILE.bmp]\n");
        return 2;
    }
    if (!start_headless_allegro()) {
        std::fprintf(stderr, "skingen: cannot start Allegro\n");
        return 1;
    }
    if (!write_skin(argv[1])) return 1;
    if (preview && !write_preview(argv[1], argv[3])) {
        std::fprintf(stderr, "skingen: cannot write the preview %s\n", argv[3]);
        return 1;
    }
    return 0;
}
