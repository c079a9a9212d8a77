// The skin pictures in knobcut/: that they are what tools/skingen draws, and
// that they keep the rules the panel relies on when it copies them.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct SkinPicture {
    const char* name;
    int w, h;
};

// Every file the panel loads, with the size it draws of it.
const SkinPicture Pictures[] = {
    {"paneltexture.bmp", 300, 200},      {"button_15x15_ut_up.bmp", 15, 15},   {"button_15x15_ut_p.bmp", 15, 15},
    {"button_15x15_t_up.bmp", 15, 15},   {"button_15x15_t_p.bmp", 15, 15},     {"buttonled_15x15_out_tx.bmp", 15, 15},
    {"buttonled_15x15_off_gr.bmp", 15, 15}, {"buttonled_15x15_on.bmp", 15, 15}, {"fader_bett_72_wood.bmp", 72, 15},
    {"fader_bett_120_wood.bmp", 120, 15}, {"fader_bett_144_wood.bmp", 144, 15}, {"faderknob_15x15_ut_tx.bmp", 15, 15},
    {"faderknob_15x15_t_tx.bmp", 15, 15}, {"display3_plain.bmp", 25, 15},     {"display3.bmp", 25, 15},
    {"dd0.bmp", 7, 11},                  {"dd1.bmp", 7, 11},                   {"dd2.bmp", 7, 11},
    {"dd3.bmp", 7, 11},                  {"dd4.bmp", 7, 11},                   {"dd5.bmp", 7, 11},
    {"dd6.bmp", 7, 11},                  {"dd7.bmp", 7, 11},                   {"dd8.bmp", 7, 11},
    {"dd9.bmp", 7, 11},                  {"ddc.bmp", 14, 11},                  {"ddcis.bmp", 14, 11},
    {"ddd.bmp", 14, 11},                 {"dddis.bmp", 14, 11},                {"dde.bmp", 14, 11},
    {"ddf.bmp", 14, 11},                 {"ddfis.bmp", 14, 11},                {"ddg.bmp", 14, 11},
    {"ddgis.bmp", 14, 11},               {"dda.bmp", 14, 11},                  {"ddais.bmp", 14, 11},
    {"ddb.bmp", 14, 11},                 {"alphabet.bmp", 252, 11},            {"alphabet_shadex.bmp", 252, 11},
    {"row_panel.bmp", 620, 80},          {"rowbind.bmp", 240, 10},             {"cock_panel.bmp", 620, 50},
};

// Pictures copied without a mask: a magenta pixel in them would be a mistake.
const char* const OpaquePictures[] = {
    "paneltexture.bmp",        "button_15x15_ut_up.bmp",     "button_15x15_ut_p.bmp",   "button_15x15_t_up.bmp",
    "button_15x15_t_p.bmp",    "buttonled_15x15_out_tx.bmp", "buttonled_15x15_off_gr.bmp", "buttonled_15x15_on.bmp",
    "fader_bett_72_wood.bmp",  "fader_bett_120_wood.bmp",    "fader_bett_144_wood.bmp", "faderknob_15x15_ut_tx.bmp",
    "faderknob_15x15_t_tx.bmp", "display3_plain.bmp",        "display3.bmp",            "row_panel.bmp",
    "rowbind.bmp",             "cock_panel.bmp",
};

// In pitch order, from c.
const char* const NoteFiles[12] = {"ddc.bmp", "ddcis.bmp", "ddd.bmp", "dddis.bmp", "dde.bmp", "ddf.bmp",
                                   "ddfis.bmp", "ddg.bmp", "ddgis.bmp", "dda.bmp", "ddais.bmp", "ddb.bmp"};
const bool NoteIsSharp[12] = {false, true, false, true, false, false, true, false, true, false, true, false};

const fs::path CommittedSkin = fs::path(SOURCE_DIR) / "knobcut";

void start_allegro()
{
    if (!system_driver) {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        set_color_depth(16);
        // The X11 window runs 16-bit colour as RGB 565.
        _rgb_r_shift_16 = 11;
        _rgb_g_shift_16 = 5;
        _rgb_b_shift_16 = 0;
    }
    set_color_depth(16);
}

std::string file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the generator into a new directory and returns that directory.
fs::path generate_skin()
{
    char pattern[] = "/tmp/skin_artwork_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return {};
    fs::path directory = fs::path(made) / "knobcut";
    std::string command = std::string("'") + SKINGEN_PATH + "' '" + directory.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    return directory;
}

class SkinArtwork : public ::testing::Test {
protected:
    static fs::path generated;

    static void SetUpTestSuite() { generated = generate_skin(); }
    static void TearDownTestSuite()
    {
        if (!generated.empty()) fs::remove_all(generated.parent_path());
    }

    void SetUp() override
    {
        ASSERT_FALSE(generated.empty()) << "skingen failed to write a skin";
        start_allegro();
    }

    // A committed picture at the panel's 16-bit depth.
    struct Loaded {
        BITMAP* bitmap;
        explicit Loaded(const std::string& name)
            : bitmap(load_bitmap((CommittedSkin / name).string().c_str(), nullptr))
        {
        }
        ~Loaded()
        {
            if (bitmap) destroy_bitmap(bitmap);
        }
        Loaded(const Loaded&) = delete;
        Loaded& operator=(const Loaded&) = delete;
        int at(int x, int y) const { return getpixel(bitmap, x, y); }
        bool mask(int x, int y) const { return at(x, y) == makecol(255, 0, 255); }
    };
};

fs::path SkinArtwork::generated;

int brightness(int colour) { return getr(colour) + getg(colour) + getb(colour); }

int colour_distance(int a, int b)
{
    return std::abs(getr(a) - getr(b)) + std::abs(getg(a) - getg(b)) + std::abs(getb(a) - getb(b));
}

double mean_brightness(BITMAP* bitmap, int x0, int y0, int x1, int y1)
{
    double sum = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) sum += brightness(getpixel(bitmap, x, y));
    return sum / ((x1 - x0 + 1) * (y1 - y0 + 1));
}

int differing_pixels(BITMAP* a, int ax, BITMAP* b, int bx, int w, int h)
{
    int count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (getpixel(a, ax + x, y) != getpixel(b, bx + x, y)) ++count;
    return count;
}

bool column_is_mask(BITMAP* bitmap, int x)
{
    for (int y = 0; y < bitmap->h; ++y)
        if (getpixel(bitmap, x, y) != makecol(255, 0, 255)) return false;
    return true;
}

int inked_pixels(BITMAP* bitmap, int x0, int x1)
{
    int count = 0;
    for (int y = 0; y < bitmap->h; ++y)
        for (int x = x0; x <= x1; ++x)
            if (getpixel(bitmap, x, y) != makecol(255, 0, 255)) ++count;
    return count;
}

std::set<int> ink_colours(BITMAP* bitmap)
{
    std::set<int> colours;
    for (int y = 0; y < bitmap->h; ++y)
        for (int x = 0; x < bitmap->w; ++x)
            if (getpixel(bitmap, x, y) != makecol(255, 0, 255)) colours.insert(getpixel(bitmap, x, y));
    return colours;
}

// ---------------------------------------------------------------------------
// The committed files are the generator's output
// ---------------------------------------------------------------------------

TEST_F(SkinArtwork, GeneratorWritesExactlyTheSkinFiles)
{
    std::set<std::string> expected, written;
    for (const SkinPicture& picture : Pictures) expected.insert(picture.name);
    for (const auto& entry : fs::directory_iterator(generated)) written.insert(entry.path().filename().string());
    EXPECT_EQ(expected.size(), 42u);
    EXPECT_EQ(written, expected);
}

TEST_F(SkinArtwork, CommittedFilesAreByteForByteWhatTheGeneratorWrites)
{
    for (const SkinPicture& picture : Pictures) {
        SCOPED_TRACE(picture.name);
        ASSERT_TRUE(fs::exists(CommittedSkin / picture.name)) << "run: skingen knobcut";
        std::string committed = file_bytes(CommittedSkin / picture.name);
        std::string fresh = file_bytes(generated / picture.name);
        EXPECT_FALSE(fresh.empty());
        EXPECT_TRUE(committed == fresh) << "knobcut/" << picture.name << " is stale; run: skingen knobcut";
    }
}

TEST_F(SkinArtwork, GeneratorWritesTheSameBytesEveryRun)
{
    fs::path again = generate_skin();
    ASSERT_FALSE(again.empty());
    for (const SkinPicture& picture : Pictures)
        EXPECT_TRUE(file_bytes(again / picture.name) == file_bytes(generated / picture.name)) << picture.name;
    fs::remove_all(again.parent_path());
}

TEST_F(SkinArtwork, EveryPictureLoadsAtTheSizeThePanelDraws)
{
    for (const SkinPicture& picture : Pictures) {
        SCOPED_TRACE(picture.name);
        Loaded loaded(picture.name);
        ASSERT_NE(loaded.bitmap, nullptr);
        EXPECT_EQ(bitmap_color_depth(loaded.bitmap), 16);
        EXPECT_EQ(loaded.bitmap->w, picture.w);
        EXPECT_EQ(loaded.bitmap->h, picture.h);
    }
}

TEST_F(SkinArtwork, OpaquePicturesHaveNoPixelInTheMaskColour)
{
    for (const char* name : OpaquePictures) {
        Loaded loaded(name);
        ASSERT_NE(loaded.bitmap, nullptr) << name;
        int magenta = 0;
        for (int y = 0; y < loaded.bitmap->h; ++y)
            for (int x = 0; x < loaded.bitmap->w; ++x)
                if (loaded.mask(x, y)) ++magenta;
        EXPECT_EQ(magenta, 0) << name;
    }
}

// ---------------------------------------------------------------------------
// Glyphs
// ---------------------------------------------------------------------------

TEST_F(SkinArtwork, GlyphStripsHaveAnInkedCellPerCharacterAndAnEmptySpacingColumn)
{
    for (const char* name : {"alphabet.bmp", "alphabet_shadex.bmp"}) {
        Loaded strip(name);
        ASSERT_NE(strip.bitmap, nullptr) << name;
        for (int cell = 0; cell < 36; ++cell) {
            EXPECT_GT(inked_pixels(strip.bitmap, cell * 7, cell * 7 + 6), 0) << name << " cell " << cell;
            EXPECT_TRUE(column_is_mask(strip.bitmap, cell * 7 + 6)) << name << " cell " << cell;
        }
    }
}

TEST_F(SkinArtwork, AllThirtySixLabelGlyphsDifferFromEachOther)
{
    for (const char* name : {"alphabet.bmp", "alphabet_shadex.bmp"}) {
        Loaded strip(name);
        ASSERT_NE(strip.bitmap, nullptr);
        const char* characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        for (int a = 0; a < 36; ++a)
            for (int b = a + 1; b < 36; ++b)
                EXPECT_GT(differing_pixels(strip.bitmap, a * 7, strip.bitmap, b * 7, 7, 11), 1)
                    << name << ": " << characters[a] << " and " << characters[b] << " look alike";
    }
}

TEST_F(SkinArtwork, LabelGlyphsAreLightOnTheDarkPanels)
{
    Loaded strip("alphabet.bmp");
    Loaded panel("row_panel.bmp");
    ASSERT_NE(strip.bitmap, nullptr);
    ASSERT_NE(panel.bitmap, nullptr);
    double plate = mean_brightness(panel.bitmap, 8, 28, 34, 68);
    for (int colour : ink_colours(strip.bitmap)) EXPECT_GT(brightness(colour), plate + 300);
}

TEST_F(SkinArtwork, DisplayDigitsAreDistinctAndKeepAGapToTheirNeighbours)
{
    std::vector<std::unique_ptr<Loaded>> digits;
    for (int d = 0; d < 10; ++d) {
        digits.push_back(std::make_unique<Loaded>("dd" + std::to_string(d) + ".bmp"));
        BITMAP* digit = digits.back()->bitmap;
        ASSERT_NE(digit, nullptr);
        EXPECT_GT(inked_pixels(digit, 0, 6), 5) << d;
        // Three digits stand side by side at 7-pixel steps.
        EXPECT_TRUE(column_is_mask(digit, 0)) << d;
        EXPECT_TRUE(column_is_mask(digit, 6)) << d;
    }
    for (int a = 0; a < 10; ++a)
        for (int b = a + 1; b < 10; ++b)
            EXPECT_GT(differing_pixels(digits[a]->bitmap, 0, digits[b]->bitmap, 0, 7, 11), 1) << a << " and " << b;
}

TEST_F(SkinArtwork, NoteNamesAreLettersWithASharpWhereThePitchNeedsOne)
{
    std::vector<std::unique_ptr<Loaded>> notes;
    for (const char* name : NoteFiles) notes.push_back(std::make_unique<Loaded>(name));
    for (int n = 0; n < 12; ++n) {
        BITMAP* note = notes[n]->bitmap;
        ASSERT_NE(note, nullptr) << NoteFiles[n];
        EXPECT_GT(inked_pixels(note, 0, 6), 5) << NoteFiles[n] << " has no letter";
        // The octave digit follows straight after the name on the display.
        EXPECT_TRUE(column_is_mask(note, 13)) << NoteFiles[n];
        if (NoteIsSharp[n]) {
            EXPECT_GT(inked_pixels(note, 7, 13), 5) << NoteFiles[n] << " has no sharp sign";
            EXPECT_EQ(differing_pixels(note, 0, notes[n - 1]->bitmap, 0, 7, 11), 0)
                << NoteFiles[n] << " is not the letter of " << NoteFiles[n - 1] << " raised";
        } else {
            EXPECT_EQ(inked_pixels(note, 7, 13), 0) << NoteFiles[n] << " is a natural note";
        }
    }
    for (int a = 0; a < 12; ++a)
        for (int b = a + 1; b < 12; ++b)
            if (!NoteIsSharp[a] && !NoteIsSharp[b]) {
                EXPECT_GT(differing_pixels(notes[a]->bitmap, 0, notes[b]->bitmap, 0, 7, 11), 1)
                    << NoteFiles[a] << " and " << NoteFiles[b];
            }
}

TEST_F(SkinArtwork, NoteNamesShareTheColoursOfTheDisplayDigits)
{
    std::set<int> digit_colours;
    for (int d = 0; d < 10; ++d) {
        Loaded digit("dd" + std::to_string(d) + ".bmp");
        ASSERT_NE(digit.bitmap, nullptr);
        for (int colour : ink_colours(digit.bitmap)) digit_colours.insert(colour);
    }
    for (const char* name : NoteFiles) {
        Loaded note(name);
        ASSERT_NE(note.bitmap, nullptr);
        for (int colour : ink_colours(note.bitmap)) EXPECT_EQ(digit_colours.count(colour), 1u) << name;
    }
}

TEST_F(SkinArtwork, DisplayGlyphsStandOutFromTheDisplayGlass)
{
    Loaded glass("display3_plain.bmp");
    Loaded digit("dd8.bmp");
    ASSERT_NE(glass.bitmap, nullptr);
    ASSERT_NE(digit.bitmap, nullptr);
    // Glyphs land on rows 2-12 and columns 2-22 of the display.
    for (int y = 2; y <= 12; ++y)
        for (int x = 2; x <= 22; ++x)
            for (int colour : ink_colours(digit.bitmap))
                EXPECT_GT(colour_distance(colour, glass.at(x, y)), 250) << x << "," << y;
}

TEST_F(SkinArtwork, UnusedDisplayPictureShowsThreeZeroes)
{
    Loaded plain("display3_plain.bmp");
    Loaded zero("dd0.bmp");
    Loaded shown("display3.bmp");
    ASSERT_TRUE(plain.bitmap && zero.bitmap && shown.bitmap);
    BITMAP* expected = create_bitmap(25, 15);
    blit(plain.bitmap, expected, 0, 0, 0, 0, 25, 15);
    for (int x : {2, 9, 16}) masked_blit(zero.bitmap, expected, 0, 0, x, 2, 7, 11);
    EXPECT_EQ(differing_pixels(expected, 0, shown.bitmap, 0, 25, 15), 0);
    destroy_bitmap(expected);
}

// ---------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------

// Displays overlap the edge of a fader on the bottom cockpit; a dark outer ring
// on both keeps the overlap from showing.
TEST_F(SkinArtwork, FaderBedsAndTheDisplayHaveADarkOuterRing)
{
    for (const char* name : {"fader_bett_72_wood.bmp", "fader_bett_120_wood.bmp", "fader_bett_144_wood.bmp",
                             "display3_plain.bmp"}) {
        Loaded picture(name);
        ASSERT_NE(picture.bitmap, nullptr);
        int w = picture.bitmap->w, h = picture.bitmap->h;
        for (int x = 0; x < w; ++x) {
            EXPECT_LT(brightness(picture.at(x, 0)), 90) << name << " top " << x;
            EXPECT_LT(brightness(picture.at(x, h - 1)), 90) << name << " bottom " << x;
        }
        for (int y = 0; y < h; ++y) {
            EXPECT_LT(brightness(picture.at(0, y)), 90) << name << " left " << y;
            EXPECT_LT(brightness(picture.at(w - 1, y)), 90) << name << " right " << y;
        }
    }
}

TEST_F(SkinArtwork, FaderBedsHaveADarkSlotAlongTheirMiddle)
{
    for (const char* name : {"fader_bett_72_wood.bmp", "fader_bett_120_wood.bmp", "fader_bett_144_wood.bmp"}) {
        Loaded bed(name);
        ASSERT_NE(bed.bitmap, nullptr);
        int w = bed.bitmap->w;
        double slot = mean_brightness(bed.bitmap, 10, 7, w - 11, 7);
        double wood = mean_brightness(bed.bitmap, 10, 2, w - 11, 4);
        EXPECT_LT(slot * 4, wood) << name;
    }
}

TEST_F(SkinArtwork, KnobsContinueTheBedBorderAndDifferWhenHighlighted)
{
    Loaded bed("fader_bett_72_wood.bmp");
    Loaded plain("faderknob_15x15_ut_tx.bmp");
    Loaded lit("faderknob_15x15_t_tx.bmp");
    ASSERT_TRUE(bed.bitmap && plain.bitmap && lit.bitmap);
    for (const Loaded* knob : {&plain, &lit})
        for (int x = 0; x < 15; ++x) {
            EXPECT_LT(colour_distance(knob->at(x, 0), bed.at(30, 0)), 40) << x;
            EXPECT_LT(colour_distance(knob->at(x, 14), bed.at(30, 14)), 40) << x;
        }
    EXPECT_GT(differing_pixels(plain.bitmap, 0, lit.bitmap, 0, 15, 15), 40);
}

TEST_F(SkinArtwork, TheThreeLedFacesAreClearlyApart)
{
    Loaded outside("buttonled_15x15_out_tx.bmp");
    Loaded unlit("buttonled_15x15_off_gr.bmp");
    Loaded lit("buttonled_15x15_on.bmp");
    ASSERT_TRUE(outside.bitmap && unlit.bitmap && lit.bitmap);
    auto lens_difference = [](const Loaded& a, const Loaded& b) {
        int sum = 0;
        for (int y = 4; y <= 10; ++y)
            for (int x = 4; x <= 10; ++x) sum += colour_distance(a.at(x, y), b.at(x, y));
        return sum / 49;
    };
    EXPECT_GT(lens_difference(outside, unlit), 60);
    EXPECT_GT(lens_difference(unlit, lit), 150);
    EXPECT_GT(lens_difference(outside, lit), 150);
    EXPECT_GT(mean_brightness(lit.bitmap, 4, 4, 10, 10), mean_brightness(unlit.bitmap, 4, 4, 10, 10) + 150);
    // Inside the loop the unlit lens still shows its red.
    EXPECT_GT(getr(unlit.at(7, 8)), getg(unlit.at(7, 8)) + 40);
}

TEST_F(SkinArtwork, ButtonFacesDifferAndThePointerBrightensThem)
{
    const char* names[4] = {"button_15x15_ut_up.bmp", "button_15x15_ut_p.bmp", "button_15x15_t_up.bmp",
                            "button_15x15_t_p.bmp"};
    std::vector<std::unique_ptr<Loaded>> faces;
    for (const char* name : names) {
        faces.push_back(std::make_unique<Loaded>(name));
        ASSERT_NE(faces.back()->bitmap, nullptr) << name;
    }
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            EXPECT_GT(differing_pixels(faces[a]->bitmap, 0, faces[b]->bitmap, 0, 15, 15), 40)
                << names[a] << " and " << names[b];
    EXPECT_GT(mean_brightness(faces[2]->bitmap, 0, 0, 14, 14), mean_brightness(faces[0]->bitmap, 0, 0, 14, 14));
    EXPECT_GT(mean_brightness(faces[3]->bitmap, 0, 0, 14, 14), mean_brightness(faces[1]->bitmap, 0, 0, 14, 14));
    // A raised cap is lit along its top edge, a sunk one along its bottom edge.
    for (int up : {0, 2}) {
        BITMAP* face = faces[up]->bitmap;
        EXPECT_GT(mean_brightness(face, 3, 1, 11, 1), mean_brightness(face, 3, 13, 11, 13)) << names[up];
    }
    for (int down : {1, 3}) {
        BITMAP* face = faces[down]->bitmap;
        EXPECT_LT(mean_brightness(face, 3, 1, 11, 1), mean_brightness(face, 3, 13, 11, 13)) << names[down];
    }
}

// ---------------------------------------------------------------------------
// Panel texture
// ---------------------------------------------------------------------------

// Mean colour step between column x and column x + 1 (wrapping), or between
// row y and row y + 1 when `across_rows`.
double mean_step(BITMAP* tile, int line, bool across_rows)
{
    int length = across_rows ? tile->w : tile->h;
    int next = (line + 1) % (across_rows ? tile->h : tile->w);
    double sum = 0;
    for (int i = 0; i < length; ++i) {
        int a = across_rows ? getpixel(tile, i, line) : getpixel(tile, line, i);
        int b = across_rows ? getpixel(tile, i, next) : getpixel(tile, next, i);
        sum += colour_distance(a, b);
    }
    return sum / length;
}

TEST_F(SkinArtwork, PanelTextureTilesWithoutAVisibleSeam)
{
    Loaded texture("paneltexture.bmp");
    ASSERT_NE(texture.bitmap, nullptr);
    BITMAP* tile = texture.bitmap;
    for (bool across_rows : {false, true}) {
        int lines = across_rows ? tile->h : tile->w;
        std::vector<double> inside;
        for (int line = 0; line < lines - 1; ++line) inside.push_back(mean_step(tile, line, across_rows));
        std::sort(inside.begin(), inside.end());
        double typical = inside[inside.size() / 2];
        double seam = mean_step(tile, lines - 1, across_rows);
        SCOPED_TRACE(across_rows ? "top meets bottom" : "right meets left");
        EXPECT_GT(typical, 0.5) << "the texture is flat";
        EXPECT_LE(seam, typical * 1.3);
    }
}

TEST_F(SkinArtwork, PanelTextureHasNoLargeScaleDrift)
{
    // A gradient would tile as visible blocks even where the edges match.
    Loaded texture("paneltexture.bmp");
    ASSERT_NE(texture.bitmap, nullptr);
    double left = mean_brightness(texture.bitmap, 0, 0, 99, 199);
    double right = mean_brightness(texture.bitmap, 200, 0, 299, 199);
    double top = mean_brightness(texture.bitmap, 0, 0, 299, 66);
    double bottom = mean_brightness(texture.bitmap, 0, 133, 299, 199);
    EXPECT_LT(std::abs(left - right), 15);
    EXPECT_LT(std::abs(top - bottom), 15);
}

}  // namespace
