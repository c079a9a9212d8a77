// The real program in its window: the first picture, a broken skin, the keyboard.
#include "e2e.h"
#include "headless.h"

#include <gtest/gtest.h>

namespace {

// The whole first picture as the panel composes it in memory, in RGB 565.
std::vector<unsigned short> headless_first_picture(const char* driverName)
{
    start_headless_allegro();
    static MIDI_DRIVER named = MidiRecorder::driver;
    named.ascii_name = driverName;
    midi_driver = &named;
    pointer_at(-100, -100, 0);
    toset = 0;
    Schirm schirm;
    Sequencer sequencer(schirm, real_skin());
    sequencer.draw_first_picture();
    std::vector<unsigned short> pixels;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) pixels.push_back(static_cast<unsigned short>(getpixel(schirm.surface, x, y)));
    show_mouse(nullptr);
    destroy_bitmap(schirm.surface);
    return pixels;
}

// Where the tests park the pointer: on the binding strip, over no widget.
constexpr int ParkX = 320;
constexpr int ParkY = 238;

bool in_box(int x, int y, int left, int top, int w, int h) { return x >= left && x < left + w && y >= top && y < top + h; }

// Pixels that differ, the pointer's sprite at (px, py) aside.
int differences(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected,
                int px = ParkX, int py = ParkY)
{
    if (shot.size() != expected.size()) return -1;
    int count = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (!in_box(x, y, px - 2, py - 2, 16, 24)) count += shot[y * 640 + x] != expected[y * 640 + x];
    return count;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XServer::shared();
        shell("xdotool mousemove 790 590");
    }
    // Puts the pointer where it hovers nothing once the window is there.
    void park(Program& program) { program.move(ParkX, ParkY); }
};

TEST_F(WindowTest, FirstPictureIsTheHeadlessCompositionPixelForPixel)
{
    std::vector<unsigned short> expected = headless_first_picture("MIDI capture");
    Program program;
    ASSERT_NE(program.find_window(), 0ul) << program.error_output();
    park(program);
    int differing = -1;
    bool same = wait_until(
        [&] {
            differing = differences(program.screenshot(), expected);
            return differing == 0;
        },
        std::chrono::seconds(15));
    EXPECT_TRUE(same) << differing << " pixels differ";
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
    std::vector<unsigned short> expected = headless_first_picture("MIDI capture");
    Program program;
    ASSERT_NE(program.find_window(), 0ul);
    park(program);
    ASSERT_TRUE(wait_until([&] { return differences(program.screenshot(), expected) == 0; }, std::chrono::seconds(15)));
    program.keys("space Return s x Escape Up Down 1 2 F1");
    program.move(202, 437);
    BITMAP* hovered = real_skin().button_t_up;
    auto startstop_hovered = [&] {
        std::vector<unsigned short> shot = program.screenshot();
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x)
                if (shot[(430 + y) * 640 + 195 + x] != getpixel(hovered, x, y)) return false;
        return true;
    };
    ASSERT_TRUE(wait_until(startstop_hovered, std::chrono::seconds(10)));
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.captured().empty());
    std::vector<unsigned short> shot = program.screenshot();
    for (int y = 430; y < 445; ++y)
        for (int x = 195; x < 210; ++x) shot[y * 640 + x] = expected[y * 640 + x];
    EXPECT_EQ(differences(shot, expected, 202, 437), 0);
}

}  // namespace
