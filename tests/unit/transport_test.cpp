// The transport after a stall, after months of play and with MIDI clock out:
// ticks set by hand, every byte recorded.
#include "headless.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<int>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes times(int n, const Bytes& b)
{
    Bytes all;
    for (int i = 0; i < n; ++i) all = all + b;
    return all;
}

const Bytes Clock = {0xF8};
const Bytes Sweep = [] {
    Bytes all;
    for (int channel = 0; channel < 16; ++channel) all = all + Bytes{0xB0 + channel, 0x7B, 0x00};
    return all;
}();

class TransportTest : public SequencerTest {
protected:
    // Hover frame, press frame (the button toggles), then lets go; a frame
    // after a start would already handle tick 0.
    void press_button(int x)
    {
        pointer_at(x, 437);
        frame();
        press();
        frame();
        release();
    }
    void start_stop()
    {
        for (int i = 0; i <= lockframes; ++i) frame();
        press_button(202);
    }
    Bytes take()
    {
        Bytes b = MidiRecorder::bytes;
        MidiRecorder::clear();
        return b;
    }
    // Steps 1 to 8 of a row select these lines (1 top, 3 bottom).
    template <class Row>
    void select_lines(Row& row, const std::vector<int>& lines)
    {
        for (int k = 0; k < 8; ++k) row.stepButtons[k].state = 3 - lines[k];
    }
    void set_lines(std::initializer_list<Fader*> faders, std::initializer_list<int> values)
    {
        auto value = values.begin();
        for (Fader* fader : faders) fader->set(*value++);
    }
};

// After a stall every row still walks through every owed step, so the rows
// keep their places, but each sends only its newest step; every owed clock goes out.
TEST_F(TransportTest, OwedTicksKeepEveryRowsPlaceButSendOnlyTheNewestStepAndEveryClock)
{
    Row_Mode& upper = s().upperControllerRow;
    Row_Mode& lower = s().lowerControllerRow;
    Row_Note& note = s().noteRow;
    Row_Gate& gate = s().gateRow;
    upper.rate = gate.rate = 3;
    note.rate = 6;
    lower.rate = 12;
    select_lines(upper, {1, 2, 3, 1, 2, 3, 1, 2});
    select_lines(lower, {3, 3, 3, 3, 1, 3, 3, 3});
    select_lines(note, {1, 2, 3, 1, 2, 3, 1, 2});
    select_lines(gate, {1, 2, 3, 1, 2, 3, 1, 2});
    set_lines({&upper.valueFader1, &upper.valueFader2, &upper.valueFader3}, {10, 20, 30});
    set_lines({&lower.valueFader1, &lower.valueFader2, &lower.valueFader3}, {11, 21, 31});
    set_lines({&note.noteFader1, &note.noteFader2, &note.noteFader3}, {0, 2, 4});  // 36, 38, 40
    set_lines({&gate.velocityFader1, &gate.velocityFader2, &gate.velocityFader3}, {100, 80, 60});
    s().clockOut = true;
    start_stop();
    take();
    struct Pass {
        int tick;
        Bytes sent;
        int upperAt, lowerAt, gateAt;
    };
    const Pass passes[] = {
        {0, Clock + Bytes{0xB0, 1, 10, 0xB0, 1, 31, 0x80, 0, 0x7F, 0x90, 36, 100}, 1, 1, 1},
        {2, Clock, 1, 1, 1},                                                     // two owed, nothing due
        {5, Bytes{0xB0, 1, 20, 0x80, 36, 0x7F, 0x90, 36, 80} + Clock, 2, 1, 2},  // three owed
        // 48 owed: 16 steps of the fast rows and 4 of the lower one, one message each.
        {53, times(21, Clock) + Clock + Bytes{0xB0, 1, 11} + Clock + Bytes{0xB0, 1, 20, 0x80, 36, 0x7F, 0x90, 36, 80} + Clock,
         2, 5, 2},
    };
    for (const Pass& pass : passes) {
        tick_pass(pass.tick);
        EXPECT_EQ(take(), pass.sent) << "tick " << pass.tick;
        EXPECT_EQ(upper.loopBar.current, pass.upperAt) << "tick " << pass.tick;
        EXPECT_EQ(lower.loopBar.current, pass.lowerAt) << "tick " << pass.tick;
        EXPECT_EQ(s().gateRow.loopBar.current, pass.gateAt) << "tick " << pass.tick;
    }
}

// About 124 days at 249 BPM: the counter wraps, the rows keep their 12-tick pace.
TEST_F(TransportTest, TheTickCounterWrapsWithoutLosingThePace)
{
    start_stop();
    tick_pass(0);
    take();
    timerCounter_last = INT_MAX - 30;
    std::vector<int> stepsAt;
    for (unsigned i = 1; i <= 60; ++i) {
        tick_pass(static_cast<int>(static_cast<unsigned>(INT_MAX) - 30u + i));
        if (!take().empty()) stepsAt.push_back(static_cast<int>(i));
    }
    EXPECT_EQ(stepsAt, (std::vector<int>{12, 24, 36, 48, 60}));
}

TEST_F(TransportTest, ClockOutStartsBeforeTheFirstTickAndStopsBeforeEachSweep)
{
    s().clockOut = true;
    start_stop();
    Bytes firstTick = {0xB0, 1, 0x40, 0xB0, 1, 0x40, 0x80, 0, 0x7F, 0x90, 0x24, 0x40};
    EXPECT_EQ(take(), Bytes{0xFA});
    tick_pass(0);
    EXPECT_EQ(take(), Clock + firstTick);
    for (int t = 1; t <= 12; ++t) tick_pass(t);
    Bytes nextStep = {0xB0, 1, 0x40, 0xB0, 1, 0x40, 0x80, 0x24, 0x7F, 0x90, 0x24, 0x40};
    EXPECT_EQ(take(), times(6, Clock) + nextStep) << "one clock every second tick, first in its tick";
    start_stop();
    EXPECT_EQ(take(), Bytes{0xFC} + Sweep);
    press_button(32);
    EXPECT_EQ(take(), Bytes{0xFC} + Sweep) << "EXIT stops the followers too";
    EXPECT_TRUE(exitnow);
}

// Allegro's configuration as a user writes it, read once at start.
TEST(Options, YesNoOrAWordOnStderr)
{
    start_headless_allegro();
    struct Case {
        const char* config;
        bool clock;
        std::string panelFile;
        const char* complaint;
    };
    std::string home = std::getenv("HOME");
    const Case cases[] = {
        {"", false, "", ""},
        {"[kalverosin4]\nmidi_clock = yes\n", true, "", ""},
        {"[kalverosin4]\nmidi_clock = No\n", false, "", ""},
        {"[kalverosin4]\nmidi_clock = maybe\n", false, "", "midi_clock = maybe"},
        {"[sound]\nmidi_clock = yes\nremember_panel = yes\n", false, "", ""},
        {"[kalverosin4]\nremember_panel = yes\npanel_file = ~/live\n", false, home + "/live", ""},
        {"[kalverosin4]\npanel_file = /tmp/p\n", false, "", ""},
    };
    for (const Case& c : cases) {
        set_config_data(c.config, static_cast<int>(std::strlen(c.config)));
        ConfigOptions options;
        std::string said = stderr_of([&] { options = read_options(); });
        EXPECT_EQ(options.midiClock, c.clock) << c.config;
        EXPECT_EQ(options.panelFile, c.panelFile) << c.config;
        if (*c.complaint)
            EXPECT_NE(said.find(c.complaint), std::string::npos) << c.config << said;
        else
            EXPECT_EQ(said, "") << c.config;
    }
    set_config_data("", 0);
}

}  // namespace
