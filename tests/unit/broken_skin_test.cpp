// A skin file that Allegro cannot read safely stops the program with the file's
// full path and what is wrong with it. Each case spoils one file of a copy of
// the real skin.
#include "headless.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::string;

void put(Bytes& bytes, std::size_t at, long value, int count)
{
    for (int i = 0; i < count; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The same picture behind the 12-byte OS/2 header.
void make_os2(Bytes& bytes)
{
    long width = static_cast<unsigned char>(bytes[18]) | static_cast<unsigned char>(bytes[19]) << 8;
    long height = static_cast<unsigned char>(bytes[22]) | static_cast<unsigned char>(bytes[23]) << 8;
    bytes = bytes.substr(0, 26) + bytes.substr(54);
    put(bytes, 10, 26, 4);
    put(bytes, 14, 12, 4);
    put(bytes, 18, width, 2);
    put(bytes, 20, height, 2);
    put(bytes, 22, 1, 2);
    put(bytes, 24, 24, 2);
}

struct BrokenFile {
    const char* file;
    void (*spoil)(Bytes&);  // nullptr: the file is removed
    const char* problem;
};

const BrokenFile BrokenFiles[] = {
    {"knobcut/dd7.bmp", nullptr, "it is missing."},
    {"knobcut/alphabet.bmp", [](Bytes& b) { b = "this is not a picture"; },
     "it is not a Windows bitmap (it does not start with BM)."},
    {"knobcut/row_panel.bmp", [](Bytes& b) { b.resize(20); }, "it is cut short: 20 bytes, but its header promises 54."},
    {"knobcut/row_panel.bmp", [](Bytes& b) { b.resize(4000); },
     "it is cut short: 4000 bytes, but its header promises 148854."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 14, 124, 4); },
     "its header is 124 bytes long, but Allegro reads only the 40-byte Windows header and the 12-byte OS/2 header"},
    {"knobcut/rowbind.bmp", [](Bytes& b) { put(b, 18, 0x7fffffff, 4); },
     "its width (2147483647) is not between 1 and 4096 pixels."},
    {"knobcut/rowbind.bmp", [](Bytes& b) { put(b, 22, -10, 4); },
     "it is stored top down (its height is negative), which Allegro cannot read."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 26, 2, 2); }, "its number of planes is 2, not 1."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 28, 4, 2); },
     "its colour depth is 4; Allegro reads 8, 16, 24 or 32 bits per pixel."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 30, 1, 4); }, "it is compressed (RLE8); only uncompressed bitmaps are read."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 30, 3, 4); },
     "it is compressed (bit fields); only uncompressed bitmaps are read."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 28, 8, 2); },
     "its pixels start at byte 54, but must follow the header and a table of all 256 colours at byte 1078."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 10, 1078, 4); },
     "its pixels start at byte 1078, but must follow the header at byte 54."},
    {"knobcut/dd0.bmp", [](Bytes& b) { put(b, 18, 6, 4); }, "it is 6 x 11 pixels, but at least 7 x 11 are drawn."},
    {"knobcut/dd0.bmp", [](Bytes& b) {
         make_os2(b);
         put(b, 24, 32, 2);
     },
     "its colour depth is 32; Allegro reads OS/2 bitmaps of 8 or 24 bits per pixel."},
};

class BrokenSkin : public HeadlessTest {
protected:
    fs::path root = fs::temp_directory_path() / ("kalverosin-skin-" + std::to_string(getpid()));
    void SetUp() override
    {
        HeadlessTest::SetUp();
        fs::remove_all(root);
        fs::create_directories(root);
        fs::copy(fs::path(KNOBCUT_PARENT) / "knobcut", root / "knobcut");
    }
    void TearDown() override
    {
        fs::remove_all(root);
        HeadlessTest::TearDown();
    }
    void spoil(const fs::path& file, void (*how)(Bytes&))
    {
        std::ifstream in(file, std::ios::binary);
        Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        in.close();
        if (!how) {
            fs::remove(file);
            return;
        }
        how(bytes);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string load_error(const std::string& directory)
    {
        try {
            Skin(directory).release();
        } catch (const SkinError& error) {
            return error.what();
        }
        return "";
    }
};

TEST_F(BrokenSkin, NamesTheFullPathAndTheProblem)
{
    for (const BrokenFile& broken : BrokenFiles) {
        SCOPED_TRACE(broken.problem);
        fs::copy_file(root / broken.file, root / "whole.bmp", fs::copy_options::overwrite_existing);
        spoil(root / broken.file, broken.spoil);
        std::string expected = "Cannot use the skin file " + (root / broken.file).string() + ": " + broken.problem;
        EXPECT_EQ(load_error(root.string()).substr(0, expected.size()), expected);
        fs::copy_file(root / "whole.bmp", root / broken.file, fs::copy_options::overwrite_existing);
    }
}

TEST_F(BrokenSkin, Os2BitmapShowsThePixelsOfItsWindowsTwin)
{
    spoil(root / "knobcut/cock_panel.bmp", make_os2);
    Skin os2(root.string());
    EXPECT_TRUE(same_pixels(os2.cock_panel, 0, 0, skin.cock_panel, 0, 0, 620, 50));
    os2.release();
}

TEST_F(BrokenSkin, SaysThatKnobcutIsLookedForInTheWorkingDirectory)
{
    fs::path before = fs::current_path();
    fs::current_path(root);
    spoil(root / "knobcut/dd3.bmp", nullptr);
    std::string message = load_error("");
    fs::current_path(before);
    EXPECT_NE(message.find("skin file " + (root / "knobcut/dd3.bmp").string() + ": it is missing."), std::string::npos)
        << message;
    EXPECT_NE(message.find("knobcut/ in the directory it is started from (the working directory, here " +
                           root.string() + ")"),
              std::string::npos)
        << message;
}

}  // namespace
