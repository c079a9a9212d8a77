// The skin pictures in knobcut/: that they are what tools/skingen draws, and
// that they keep the rules the panel relies on when it copies them.
#include "headless.h"

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
        start_headless_allegro();
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

int colour_distance(int a, int b)
{
    return std::abs(getr(a) - getr(b)) + std::abs(getg(a) - getg(b)) + std::abs(getb(a) - getb(b));
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

// ---------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------

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

}  // namespace
