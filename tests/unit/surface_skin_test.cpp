// The drawing surface, the skin and the rule for releasing pictures.
#include "headless.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SurfaceTest : public HeadlessTest {
protected:
    Schirm* schirm = nullptr;
    void SetUp() override
    {
        HeadlessTest::SetUp();
        schirm = new Schirm();
        clear_to_color(schirm->surface, makecol(10, 20, 30));
    }
    void TearDown() override
    {
        schirm->release();
        delete schirm;
        HeadlessTest::TearDown();
    }
    // A 4 x 2 picture: mask colour on the left half, white on the right.
    BITMAP* half_masked_picture()
    {
        BITMAP* picture = create_picture(4, 2);
        clear_to_color(picture, makecol(255, 0, 255));
        rectfill(picture, 2, 0, 3, 1, makecol(255, 255, 255));
        return picture;
    }
};

TEST_F(SurfaceTest, SurfaceIsTheWholeScreenInMemoryWithoutAGraphicsDriver)
{
    ASSERT_NE(schirm->surface, nullptr);
    EXPECT_EQ(schirm->surface->w, 640);
    EXPECT_EQ(schirm->surface->h, 480);
    EXPECT_EQ(bitmap_color_depth(schirm->surface), 16);
}

TEST_F(SurfaceTest, MaskedCopySkipsTheMaskColourAndEveryOtherModeWritesAllPixels)
{
    int background = makecol(10, 20, 30);
    int white = makecol(255, 255, 255);
    int magenta = makecol(255, 0, 255);
    BITMAP* picture = half_masked_picture();
    schirm->blitz({picture, 100, 50, 17});
    EXPECT_EQ(pixel(schirm->surface, 100, 50), background);
    EXPECT_EQ(pixel(schirm->surface, 101, 51), background);
    EXPECT_EQ(pixel(schirm->surface, 102, 50), white);
    int row = 60;
    for (int mode : {0, 1, 2, 16, 18, 127}) {
        schirm->blitz({picture, 100, row, mode});
        EXPECT_EQ(pixel(schirm->surface, 100, row), magenta) << "mode " << mode;
        EXPECT_EQ(pixel(schirm->surface, 103, row + 1), white) << "mode " << mode;
        row += 5;
    }
    release_picture(picture);
}

TEST_F(SurfaceTest, NullRecordTouchesNothing)
{
    BITMAP* before = create_bitmap(640, 480);
    blit(schirm->surface, before, 0, 0, 0, 0, 640, 480);
    schirm->blitz(BSNULL);
    schirm->blitz({nullptr, 5, 5, 17});
    schirm->put(BSNULL);
    EXPECT_TRUE(same_pixels(schirm->surface, 0, 0, before, 0, 0, 640, 480));
    destroy_bitmap(before);
}

TEST_F(SurfaceTest, PicturesPartlyOutsideAreClippedNotWrapped)
{
    int background = makecol(10, 20, 30);
    BITMAP* picture = create_picture(20, 20);
    clear_to_color(picture, makecol(0, 255, 0));
    schirm->blitz({picture, 630, 470, 0});
    schirm->blitz({picture, -10, -10, 0});
    EXPECT_EQ(pixel(schirm->surface, 639, 479), makecol(0, 255, 0));
    EXPECT_EQ(pixel(schirm->surface, 9, 9), makecol(0, 255, 0));
    EXPECT_EQ(pixel(schirm->surface, 10, 10), background);
    EXPECT_EQ(pixel(schirm->surface, 629, 469), background);
    EXPECT_EQ(pixel(schirm->surface, 0, 20), background);
    EXPECT_EQ(pixel(schirm->surface, 20, 0), background);
    release_picture(picture);
}

TEST_F(SurfaceTest, PutReleasesFreshPicturesAndNeverSkinBitmaps)
{
    int baseline = live_pictures();
    schirm->put({half_masked_picture(), 0, 0, 0});
    schirm->put(skin.panel());
    EXPECT_EQ(live_pictures(), baseline);

    schirm->put(skin.cock(10));
    schirm->put({skin.rowbind, 195, 235, 0});
    // The shared bitmaps are still whole and still draw.
    EXPECT_EQ(skin.cock_panel->w, 620);
    schirm->put(skin.cock(420));
    EXPECT_TRUE(same_pixels(schirm->surface, 10, 420, skin.cock_panel, 0, 0, 620, 50));
    EXPECT_TRUE(same_pixels(schirm->surface, 195, 235, skin.rowbind, 0, 0, 240, 10));
    EXPECT_EQ(live_pictures(), baseline);
}

TEST_F(SurfaceTest, SurfaceCopyReachesTheScreenBitmap)
{
    BITMAP* saved = screen;
    screen = create_bitmap(640, 480);
    clear_to_color(screen, 0);
    rectfill(schirm->surface, 300, 200, 310, 210, makecol(200, 100, 0));
    schirm->refresh();
    EXPECT_TRUE(same_pixels(screen, 0, 0, schirm->surface, 0, 0, 640, 480));
    destroy_bitmap(screen);
    screen = saved;
}

using SkinTest = HeadlessTest;

TEST_F(SkinTest, PanelTilesTheTextureOverTheWholeScreen)
{
    Picture panel(skin.panel());
    ASSERT_EQ(panel->w, 640);
    ASSERT_EQ(panel->h, 480);
    EXPECT_EQ(panel.record.x, 0);
    EXPECT_EQ(panel.record.y, 0);
    EXPECT_EQ(panel.record.mode, 0);
    BITMAP* texture = skin.paneltexture;
    EXPECT_EQ(pixel(panel.get(), 600, 400), pixel(texture, 0, 0));
    EXPECT_EQ(pixel(panel.get(), 639, 479), pixel(texture, 39, 79));
    EXPECT_TRUE(same_pixels(panel.get(), 0, 0, texture, 0, 0, 300, 200));
    EXPECT_TRUE(same_pixels(panel.get(), 300, 200, texture, 0, 0, 300, 200));
    EXPECT_TRUE(same_pixels(panel.get(), 600, 0, texture, 0, 0, 40, 200));
    EXPECT_TRUE(same_pixels(panel.get(), 0, 400, texture, 0, 0, 300, 80));
}

TEST_F(SkinTest, CockpitPanelIsTheSharedBitmapAtTheLeftEdge)
{
    for (int y : {10, 420, -7}) {
        blitz_struct record = skin.cock(y);
        EXPECT_EQ(record.bitmap, skin.cock_panel);
        EXPECT_EQ(record.x, 10);
        EXPECT_EQ(record.y, y);
        EXPECT_EQ(record.mode, 0);
    }
}

TEST_F(SkinTest, CopiesShareEverySlot)
{
    Skin copy = skin;
    for (int i = 0; i < SkinSlots; ++i) {
        ASSERT_NE(*skin.slot(i), nullptr) << Skin::file_names[i];
        EXPECT_EQ(*copy.slot(i), *skin.slot(i)) << Skin::file_names[i];
    }
    EXPECT_EQ(skin.slot(15), &skin.dd_digit[0]);
    EXPECT_EQ(skin.slot(24), &skin.dd_digit[9]);
    EXPECT_EQ(skin.slot(25), &skin.dd_note[0]);
    EXPECT_EQ(skin.slot(36), &skin.dd_note[11]);
    EXPECT_EQ(skin.slot(41), &skin.cock_panel);
}

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
// Without a window there is no instrument: the box's text on stdout, the
// reason on stderr, and a status that scripts can see.
TEST(StartUp, WithoutDisplayReportsTheGraphicModeWhyAndFails)
{
    std::string command = std::string("env -u DISPLAY ") + PROGRAM_PATH + " 2>stderr-without-display.txt";
    FILE* program = popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, program)) output += buffer;
    int status = pclose(program);
    std::ifstream errors("stderr-without-display.txt");
    std::string reason((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    EXPECT_NE(output.find("Unable to set graphic mode!"), std::string::npos) << output;
    EXPECT_NE(reason.find("DISPLAY is not set"), std::string::npos) << reason;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
