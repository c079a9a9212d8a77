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
