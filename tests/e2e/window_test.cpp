// The real program in its window: the first picture, a broken skin, the keyboard.
#include "e2e.h"

#include <gtest/gtest.h>

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { XServer::shared(); }
};

TEST_F(WindowTest, FirstPictureIsTheHeadlessCompositionPixelForPixel)
{
    Program program;
    wait_for_first_picture(program);
    EXPECT_TRUE(program.running());
}

TEST_F(WindowTest, MissingSkinFileIsNamedAndTheProgramStopsInOrder)
{
    Program program({"ddfis.bmp"});
    ASSERT_TRUE(wait_until([&] { return program.error_output().find("knobcut/ddfis.bmp") != std::string::npos; },
                           std::chrono::seconds(20)))
        << program.error_output();
    // The same message waits in a message box until it is acknowledged.
    std::string box;
    ASSERT_TRUE(wait_until(
        [&] {
            box = shell("xdotool search --onlyvisible --class xmessage 2>/dev/null");
            return !box.empty();
        },
        std::chrono::seconds(20)));
    EXPECT_TRUE(shell("xdotool search --onlyvisible --class Allegro 2>/dev/null").empty()) << "the panel is gone";
    std::string geometry = shell("xdotool getwindowgeometry --shell " + box.substr(0, box.find('\n')));
    int x = std::stoi(geometry.substr(geometry.find("X=") + 2));
    int y = std::stoi(geometry.substr(geometry.find("Y=") + 2));
    shell("xdotool mousemove " + std::to_string(x + 5) + " " + std::to_string(y + 5) + " key Return");
    int status = program.wait_exit(std::chrono::seconds(20));
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1) << "the program did not end";
}

// Keys reach the program in order with the pointer's moves, so once a hover
// that follows them shows, every key has been seen.
TEST_F(WindowTest, KeysChangeNothing)
{
    const std::vector<unsigned short>& expected = first_picture();
    Program program;
    wait_for_first_picture(program);
    program.keys("space Return s x Escape Up Down 1 2 F1");
    ASSERT_TRUE(program.hover(202, 437, 195, 430));
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.captured().empty());
    std::vector<unsigned short> shot = program.screenshot();
    for (int y = 430; y < 445; ++y)
        for (int x = 195; x < 210; ++x) shot[y * 640 + x] = expected[y * 640 + x];
    EXPECT_EQ(differences(shot, expected, 202, 437), 0);
}

}  // namespace
