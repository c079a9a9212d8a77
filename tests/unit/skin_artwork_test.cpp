// The committed skin in knobcut/: that it is what tools/skingen draws, and that
// it keeps what the panel's look relies on.
#include "headless.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// True when column x of a glyph picture is mask colour from top to bottom.
bool blank_column(BITMAP* glyph, int x)
{
    for (int y = 0; y < glyph->h; ++y)
        if (getpixel(glyph, x, y) != makecol(255, 0, 255)) return false;
    return true;
}

std::string file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SkinArtwork, CommittedFilesAreWhatTheGeneratorWrites)
{
    fs::path out = fs::temp_directory_path() / ("kalverosin-skingen-" + std::to_string(getpid()));
    fs::create_directories(out);
    ASSERT_EQ(std::system(("'" SKINGEN_PATH "' '" + (out / "knobcut").string() + "'").c_str()), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(out / "knobcut"), fs::directory_iterator()), SkinSlots);
    for (const SkinFile& file : SkinFiles)
        EXPECT_TRUE(file_bytes(out / file.name) == file_bytes(fs::path(SOURCE_DIR) / file.name))
            << file.name << " is stale; run: build/tools/skingen knobcut";
    fs::remove_all(out);
}

using SkinLook = HeadlessTest;

// Only glyphs are copied masked; the mask colour anywhere else would show as magenta.
TEST_F(SkinLook, OnlyGlyphsHoldTheMaskColour)
{
    for (const SkinFile& file : SkinFiles) {
        BITMAP* picture = *file.field(skin);
        int mask = 0;
        for (int y = 0; y < picture->h; ++y)
            for (int x = 0; x < picture->w; ++x) mask += getpixel(picture, x, y) == makecol(255, 0, 255);
        std::string name = file.name;
        EXPECT_EQ(mask > 0, name.rfind("knobcut/dd", 0) == 0 || name.rfind("knobcut/alphabet", 0) == 0) << name;
    }
}

// Every label character differs from the others; every character keeps an empty column to the next one.
TEST_F(SkinLook, GlyphsAreDistinctAndKeepTheirGaps)
{
    for (BITMAP* strip : {skin.alphabet, skin.alphabet_shadex})
        for (int a = 0; a < 36; ++a) {
            EXPECT_TRUE(blank_column(strip, 7 * a + 6)) << "cell " << a;
            for (int b = a + 1; b < 36; ++b) EXPECT_GT(differing_pixels(strip, 7 * a, 0, strip, 7 * b, 0, 7, 11), 1);
        }
    for (BITMAP* digit : skin.dd_digit) EXPECT_TRUE(blank_column(digit, 0) && blank_column(digit, 6));
}

}  // namespace
