// The skin: a broken one is named; the program started without a display.
#include "headless.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A copy of the skin directory in which one file is spoiled.
class BrokenSkinTest : public HeadlessTest {
protected:
    fs::path root;
    void SetUp() override
    {
        HeadlessTest::SetUp();
        root = fs::temp_directory_path() / ("kalverosin-skin-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        fs::copy(fs::path(KNOBCUT_PARENT) / "knobcut", root / "knobcut");
    }
    void TearDown() override
    {
        fs::remove_all(root);
        HeadlessTest::TearDown();
    }
    std::string load_error()
    {
        try {
            Skin loaded(root.string());
            loaded.release();
        } catch (const SkinError& error) {
            return error.what();
        }
        return "";
    }
};

TEST_F(BrokenSkinTest, EachMissingFileIsNamed)
{
    for (const char* name : Skin::file_names) {
        fs::path file = root / name;
        fs::rename(file, root / "aside.bmp");
        std::string message = load_error();
        EXPECT_NE(message.find(name), std::string::npos) << message;
        EXPECT_NE(message.find("missing"), std::string::npos) << message;
        fs::rename(root / "aside.bmp", file);
    }
}

TEST_F(BrokenSkinTest, CutShortFileIsNamed)
{
    fs::resize_file(root / "knobcut/row_panel.bmp", 4000);
    std::string message = load_error();
    EXPECT_NE(message.find("knobcut/row_panel.bmp: it is cut short"), std::string::npos) << message;
    fs::resize_file(root / "knobcut/row_panel.bmp", 20);
    EXPECT_NE(load_error().find("knobcut/row_panel.bmp: it is cut short"), std::string::npos);
}

TEST_F(BrokenSkinTest, DamagedHeaderIsNamed)
{
    std::fstream file(root / "knobcut/rowbind.bmp", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(18);
    file.write("\xff\xff\xff\x7f", 4);  // a width of two thousand million pixels
    file.close();
    EXPECT_NE(load_error().find("knobcut/rowbind.bmp: its header is damaged"), std::string::npos);
}

TEST_F(BrokenSkinTest, FileThatIsNotABitmapIsNamed)
{
    std::ofstream(root / "knobcut/alphabet.bmp") << "this is not a picture";
    EXPECT_NE(load_error().find("knobcut/alphabet.bmp"), std::string::npos);
}

// Every file is as large as it is drawn; one pixel narrower is named, except
// where the whole picture is drawn (or nothing is).
TEST_F(BrokenSkinTest, BitmapNarrowerThanItIsDrawnIsNamedWithItsSize)
{
    for (int slot = 0; slot < SkinSlots; ++slot) {
        fs::path file = root / Skin::file_names[slot];
        fs::copy_file(file, root / "whole.bmp", fs::copy_options::overwrite_existing);
        BITMAP* whole = load_bitmap(file.c_str(), nullptr);
        BITMAP* narrow = create_bitmap(whole->w - 1, whole->h);
        blit(whole, narrow, 0, 0, 0, 0, narrow->w, narrow->h);
        save_bitmap(file.c_str(), narrow, nullptr);
        std::string size = std::to_string(narrow->w) + " x " + std::to_string(narrow->h);
        destroy_bitmap(narrow);
        destroy_bitmap(whole);
        std::string message = load_error();
        bool drawnWhole = slot == 14 || slot >= 39;
        if (drawnWhole)
            EXPECT_EQ(message, "") << Skin::file_names[slot];
        else
            EXPECT_NE(message.find(std::string(Skin::file_names[slot]) + ": it is " + size), std::string::npos)
                << message;
        fs::copy_file(root / "whole.bmp", file, fs::copy_options::overwrite_existing);
    }
}

// The real program, started without a display.
TEST(StartUp, WithoutDisplayReportsTheGraphicModeAndEndsWithStatusZero)
{
    std::string command = std::string("env -u DISPLAY ") + PROGRAM_PATH + " 2>&1";
    FILE* program = popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, program)) output += buffer;
    int status = pclose(program);
    EXPECT_NE(output.find("Unable to set graphic mode!"), std::string::npos) << output;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
