// The real program in its window under Xvfb: the first picture, the keyboard,
// and the MIDI it sends through the capture driver (the structure and order of
// the bytes, never their timing).
#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Messages = std::vector<std::vector<int>>;

TEST(WindowTest, KeysChangeNothing)
{
    Program program;
    wait_for_first_picture(program);
    shell("xdotool key --delay 20 space Return s x Escape Up Down 1 2 F1");
    // Keys reach the program in order with the pointer's moves: once a hover
    // that follows them shows, every key has been seen.
    ASSERT_TRUE(program.hover(202, 437, 195, 430));
    wait_for_first_picture(program);
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.captured_messages().empty());
}

// Index of the first All Notes Off sweep over the 16 channels at or after `from`, or -1.
int find_sweep(const Messages& messages, int from)
{
    Messages sweep;
    for (int channel = 0; channel < 16; ++channel) sweep.push_back({0xB0 + channel, 0x7B, 0x00});
    auto found = std::search(messages.begin() + from, messages.end(), sweep.begin(), sweep.end());
    return found == messages.end() ? -1 : static_cast<int>(found - messages.begin());
}

TEST(MidiTest, StartPlaysEveryTwelveTicksStopAndExitSweepAndTheProgramEnds)
{
    Program program;
    wait_for_first_picture(program);
    // A button held down, as a user holds a click, until something happens.
    auto press_until = [&](int left, int top, const std::function<bool()>& condition) {
        ASSERT_TRUE(program.hover(left + 7, top + 7, left, top));
        program.button_down();
        EXPECT_TRUE(wait_until(condition, std::chrono::seconds(20))) << program.captured_messages().size();
        program.button_up();
    };
    press_until(195, 430, [&] { return program.captured_messages().size() >= 16; });
    press_until(195, 430, [&] { return find_sweep(program.captured_messages(), 0) >= 0; });
    size_t stopped = program.captured_messages().size();
    press_until(25, 430, [&] { return !program.running(); });
    EXPECT_EQ(program.wait_exit(std::chrono::seconds(20)), 0);

    Messages messages = program.captured_messages();
    int stop = find_sweep(messages, 0);
    ASSERT_GE(stop, 16);
    for (int i = 0; i < stop; i += 4)
        EXPECT_EQ(Messages(messages.begin() + i, messages.begin() + i + 4),
                  (Messages{{0xB0, 1, 0x40}, {0xB0, 1, 0x40}, {0x80, i ? 0x24 : 0, 0x7F}, {0x90, 0x24, 0x40}})) << i;
    ASSERT_EQ(static_cast<size_t>(stop + 16), stopped) << "nothing from the rows after the stop";
    EXPECT_EQ(find_sweep(messages, stop + 16), stop + 16) << "EXIT sweeps next";
}

}  // namespace
