// The real program played with the pointer under Xvfb, its MIDI recorded by
// the capture driver: structure and order of the bytes, never their timing.
#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Messages = std::vector<std::vector<int>>;

const std::vector<int> CC1 = {0xB0, 0x01, 0x40};
const std::vector<int> Off0 = {0x80, 0x00, 0x7F};
const std::vector<int> Off36 = {0x80, 0x24, 0x7F};
const std::vector<int> On36 = {0x90, 0x24, 0x40};

Messages sweep()
{
    Messages all;
    for (int channel = 0; channel < 16; ++channel) all.push_back({0xB0 + channel, 0x7B, 0x00});
    return all;
}

// Allegro's own goodbye when the sound system is removed at exit.
bool library_shutdown(const std::vector<int>& m)
{
    return m.size() == 3 && (m[0] & 0xF0) == 0xB0 && (m[1] == 0x7B || m[1] == 0x78) && m[2] == 0;
}

// Index of the first all-notes-off sweep at or after `from`, or -1.
int find_sweep(const Messages& messages, size_t from)
{
    Messages all = sweep();
    auto found = std::search(messages.begin() + std::min(from, messages.size()), messages.end(), all.begin(), all.end());
    return found == messages.end() ? -1 : static_cast<int>(found - messages.begin());
}

class MidiTest : public ::testing::Test {
protected:
    Program program;
    void SetUp() override { wait_for_first_picture(program); }

    // Hovers a button, then holds it down until the condition holds, as a user
    // holds a click until something happens; then lets go.
    void press_until(int left, int top, const std::function<bool()>& condition)
    {
        ASSERT_TRUE(program.hover(left + 7, top + 7, left, top));
        program.button_down();
        EXPECT_TRUE(wait_until(condition, std::chrono::seconds(20))) << program.captured_messages().size() << " messages";
        program.button_up();
    }
    bool has_sweep(size_t from) { return find_sweep(program.captured_messages(), from) >= 0; }
    void exit_and_expect_status_zero()
    {
        press_until(25, 430, [&] { return !program.running(); });
        EXPECT_EQ(program.wait_exit(std::chrono::seconds(20)), 0);
    }
};

TEST_F(MidiTest, StartRepeatsTheFirstTickStopSweepsExitSweepsAndEnds)
{
    press_until(195, 430, [&] { return program.captured_messages().size() >= 4; });
    ASSERT_TRUE(program.wait_for_messages(16));
    press_until(195, 430, [&] { return has_sweep(0); });
    size_t stopped = program.captured_messages().size();
    exit_and_expect_status_zero();

    Messages messages = program.captured_messages();
    int stop = find_sweep(messages, 0);
    ASSERT_GE(stop, 16);
    ASSERT_EQ(stop % 4, 0) << "only whole ticks before the stop";
    for (int i = 0; i < stop; i += 4) {
        EXPECT_EQ(messages[i], CC1) << i;
        EXPECT_EQ(messages[i + 1], CC1) << i;
        EXPECT_EQ(messages[i + 2], i == 0 ? Off0 : Off36) << i;
        EXPECT_EQ(messages[i + 3], On36) << i;
    }
    ASSERT_EQ(static_cast<size_t>(stop + 16), stopped) << "nothing from the rows after the stop";
    EXPECT_EQ(find_sweep(messages, stop + 16), stop + 16) << "EXIT sweeps next";
    for (size_t i = stop + 32; i < messages.size(); ++i) EXPECT_TRUE(library_shutdown(messages[i])) << i;
}

TEST_F(MidiTest, DraggingMidiChannelSweepsAndMovesTheChannelNibble)
{
    press_until(195, 430, [&] { return program.captured_messages().size() >= 8; });
    // Grab the channel knob and drag it one channel to the right, pixel by
    // pixel so that the press is seen while the pointer is still on the knob;
    // once more if it was not.
    auto on_channel_two = [&] {
        Messages m = program.captured_messages();
        return std::any_of(m.begin(), m.end(), [](const std::vector<int>& x) { return x[0] == 0x91; });
    };
    ASSERT_TRUE(wait_until(
        [&] {
            EXPECT_TRUE(program.hover(457, 452, 450, 445));
            program.button_down();
            for (int x = 458; x <= 473; ++x) program.move(x, 452);
            bool moved = wait_until(on_channel_two, std::chrono::seconds(3));
            program.button_up();
            return moved;
        },
        std::chrono::seconds(30)));
    size_t played = program.captured_messages().size() + 8;
    ASSERT_TRUE(program.wait_for_messages(played));
    exit_and_expect_status_zero();

    Messages messages = program.captured_messages();
    int change = find_sweep(messages, 0);
    ASSERT_GT(change, 0);
    for (int i = 0; i < change; ++i) EXPECT_EQ(messages[i][0] & 0x0F, 0) << i;
    int exit = find_sweep(messages, change + 16);
    ASSERT_GT(exit, change + 16);
    for (int i = change + 16; i < exit; ++i) {
        EXPECT_EQ(messages[i][0] & 0x0F, 1) << i;
        EXPECT_TRUE(messages[i][0] == 0xB1 || messages[i][0] == 0x81 || messages[i][0] == 0x91) << i;
    }
}

}  // namespace
