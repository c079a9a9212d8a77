// A skin file that Allegro cannot read safely stops the program with the file's
// full path and what is wrong with it.
#include "Report.h"
#include "headless.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int CutTo = -1;

// Spoils of knobcut/dd0.bmp (7 x 11, 24 bits, 318 bytes): `value` little-endian in `bytes` bytes at `at`.
struct Spoil { int at; long value; int bytes; const char* problem; };

const Spoil Spoils[] = {
    {0, 'P', 1, "it is not a Windows bitmap (it does not start with BM)."},
    {CutTo, 20, 0, "it is cut short: 20 bytes, but its header promises 54."},
    {CutTo, 300, 0, "it is cut short: 300 bytes, but its header promises 318."},
    {14, 124, 4, "its header is 124 bytes long, but Allegro reads only the 40-byte Windows header and the 12-byte"},
    {18, 0x7fffffff, 4, "its width (2147483647) is not between 1 and 4096 pixels."},
    {22, -10, 4, "it is stored top down (its height is negative), which Allegro cannot read."},
    {26, 2, 2, "its number of planes is 2, not 1."},
    {28, 4, 2, "its colour depth is 4; Allegro reads 8, 16, 24 or 32 bits per pixel."},
    {30, 1, 4, "it is compressed (RLE8); only uncompressed bitmaps are read."},
    {30, 3, 4, "it is compressed (bit fields); only uncompressed bitmaps are read."},
    {28, 8, 2, "its pixels start at byte 54, but must follow the header and a table of all 256 colours at byte 1078."},
    {10, 1078, 4, "its pixels start at byte 1078, but must follow the header at byte 54."},
    {18, 6, 4, "it is 6 x 11 pixels, but at least 7 x 11 are drawn."},
};

const fs::path Scratch = fs::temp_directory_path() / ("kalverosin-skin-" + std::to_string(getpid()) + ".bmp");

// Seven by eleven pixels of a digit are drawn; a cockpit panel is drawn whole.
const SkinFile Digit{"knobcut/dd0.bmp", nullptr, 7, 11};

// Why the skin loader refuses the file, or without one the whole skin; empty when it loads.
std::string refusal(const std::string& path = "")
{
    try {
        path.empty() ? Skin().release() : destroy_bitmap(load_skin_file(path, Digit));
    } catch (const SkinError& error) {
        return error.what();
    }
    return "";
}

using BrokenSkin = HeadlessTest;

TEST_F(BrokenSkin, NamesTheFileAndWhatIsWrongWithIt)
{
    for (const Spoil& spoil : Spoils) {
        std::string spoiled = contents(fs::path(KNOBCUT_PARENT) / Digit.name);
        if (spoil.at == CutTo) spoiled.resize(spoil.value);
        for (int i = 0; i < spoil.bytes; ++i) spoiled[spoil.at + i] = static_cast<char>(spoil.value >> (8 * i));
        std::ofstream(Scratch, std::ios::binary) << spoiled;
        std::string expected = "Cannot use the skin file " + Scratch.string() + ": " + spoil.problem;
        EXPECT_EQ(refusal(Scratch).substr(0, expected.size()), expected);
    }
    fs::remove(Scratch);
}

// Only without a knobcut/ in the working directory, even an empty one, is the installed skin tried.
TEST_F(BrokenSkin, NamesThePlacesTheSkinIsLookedFor)
{
    fs::path before = fs::current_path();
    fs::create_directories(Scratch / "knobcut");
    fs::current_path(Scratch);
    std::string with = refusal();
    fs::remove("knobcut");
    std::string without = refusal();
    fs::current_path(before);
    fs::remove_all(Scratch);
    std::string working = "it is missing. Kalverosin 4 reads its skin from the folder knobcut/ in the directory it is"
                          " started from (the working directory, here " + Scratch.string();
    EXPECT_EQ(with, "Cannot use the skin file " + Scratch.string() + "/knobcut/paneltexture.bmp: " + working + ").");
    EXPECT_NE(without.find(working + "), which has none, or else from the skin installed with it, in /"),
              std::string::npos) << without;
}

// The box shows every word on lines that fit it; a path too long for a line is broken after a '/'.
TEST(BoxText, IsWrappedToLinesThatFit)
{
    const std::string path = "/home/someone/" + std::string(70, 'k') + "/knobcut/paneltexture.bmp";
    const std::string texts[] = {"Unable to set graphic mode!", "Cannot use the skin file " + path + ": it is missing.",
                                 std::string(40, 'w') + " " + std::string(40, 'w')};
    for (const std::string& text : texts) {
        std::string box = wrapped_for_box(text), unwrapped;
        std::istringstream lines(box);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 72u) << box;
            unwrapped += (unwrapped.empty() || unwrapped.back() == '/' ? "" : " ") + line;
        }
        EXPECT_EQ(unwrapped, text) << box;
    }
    EXPECT_NE(wrapped_for_box(texts[1]).find("/home/someone/\n"), std::string::npos);
}

}  // namespace
