// The main loop headless: the transport, the rows playing together and the
// cockpit, driven with the pointer; ticks set by hand, MIDI recorded byte for byte.
#include "headless.h"

#include "DesktopWindow.h"

#include <allegro/internal/aintern.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

using Messages = std::vector<Message>;
const Message CC1 = {0xB0, 0x01, 0x40}, On36 = {0x90, 0x24, 0x40};
const Message Off0 = {0x80, 0x00, 0x7F}, Off36 = {0x80, 0x24, 0x7F};

Messages sweep()
{
    Messages all;
    for (int channel = 0; channel < 16; ++channel) all.push_back({0xB0 + channel, 0x7B, 0x00});
    return all;
}

class PlayTest : public SequencerTest {
protected:
    // Clicks STARTSTOP, clear of its lock; once started, the pass of the release plays tick 0.
    void startstop()
    {
        for (int i = 0; i < 11; ++i) frame();
        click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
    }
    // The notes sounded from a start through tick last.
    std::vector<int> notes_played(int last)
    {
        startstop();
        tick_passes(1, last);
        std::vector<int> notes;
        for (const Message& m : sent())
            if (m[0] == 0x90) notes.push_back(m[1]);
        startstop();
        MidiRecorder::clear();
        return notes;
    }
};

// Ticks hidden by a long frame are caught up, but not beyond a beat.
TEST_F(PlayTest, StartPlaysEveryRowAtOnceAndThenEveryTwelveTicks)
{
    startstop();
    EXPECT_EQ(sent(), (Messages{CC1, CC1, Off0, On36}));
    MidiRecorder::clear();
    tick_passes(1, 11);
    tick_pass(13);
    EXPECT_EQ(sent(), (Messages{CC1, CC1, Off36, On36}));
    tick_passes(14, 48);
    EXPECT_EQ(sent().size(), 16u);
    tick_pass(48 + 61);
    EXPECT_EQ(sent().size(), 16u) << "only tick 109 is handled";
    frame();
    EXPECT_TRUE(shows(skin.buttonled_on, s().gateRow.loopBar.x + 60, s().gateRow.loopBar.y)) << "step 5 lit";
    EXPECT_TRUE(shows(skin.buttonled_on, s().gateRow.led3.x, s().gateRow.led3.y)) << "line 3 lit";
}

// The timer may have counted past tick 0 before the first pass after a start.
TEST_F(PlayTest, StopSendsOnlyTheSweepAndARestartBeginsAgainAtTickZero)
{
    startstop();
    tick_passes(1, 30);
    MidiRecorder::clear();
    startstop();
    tick_passes(31, 200);
    EXPECT_EQ(sent(), sweep()) << "the stop sweeps, and the rows fall silent";
    MidiRecorder::clear();
    for (ButLed* bar : {&s().upperControllerRow.loopBar, &s().lowerControllerRow.loopBar, &s().gateRow.loopBar,
                        &s().noteRow.loopBar})
        EXPECT_TRUE(same_pixels(schirm->surface, bar->x, bar->y, golden_first_picture(), bar->x, bar->y, 240, 15));
    pointer_at(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
    for (int i = 0; i < 11; ++i) frame();
    press();
    frame();
    tick_pass(2);
    EXPECT_EQ(sent(), (Messages{CC1, CC1, Off36, On36}));
}

// A click that X saw begin and end between two frames, and a key-down of Space
// (held, X repeats the press), each toggle STARTSTOP once, the lock included.
TEST_F(PlayTest, AClickBetweenTwoFramesAndSpaceToggleStartstopAsAHeldPressDoes)
{
    auto click = [&] {
        _mouse_x = s().cockpit.startstopButton.x + 3;
        _mouse_y = s().cockpit.startstopButton.y + 3;
        hear_mouse(0, 0, 0, 0, 2);
        hear_mouse(0, 0, 0, 0, 0);
    };
    auto space = [] {
        hear_key(KEY_SPACE);
        hear_key(KEY_SPACE | 0x80);
    };
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) {
            pointer_at(-100, -100);  // what poll_mouse shows: the pointer away, no button down
            frame();
        }
    };
    for (const auto& [act, what] : {std::pair{std::function<void()>(click), "click"}, {space, "space"}}) {
        MidiRecorder::clear();
        frames(11);
        for (auto [frameCount, running] : {std::pair{3, true}, {11, true}, {3, false}}) {
            act();
            frames(frameCount);
            EXPECT_EQ(s().running(), running) << what << " after " << frameCount << " frames";
        }
        Messages startAndStop = {CC1, CC1, std::string(what) == "click" ? Off0 : Off36, On36};
        for (const Message& m : sweep()) startAndStop.push_back(m);
        EXPECT_EQ(sent(), startAndStop) << what;
    }
    frames(11);
    for (int released : {0, 0, 0x80}) {
        hear_key(KEY_SPACE | released);
        frames(11);
    }
    EXPECT_TRUE(s().running()) << "Space held down: X repeats the key-down, which starts only once";
}

// The lit cell of the playing step chooses the line whose value the row sends.
TEST_F(PlayTest, CellsClickedInTheStepsChooseTheLinesPlayed)
{
    Row_Mode& upper = s().upperControllerRow;
    Row_Gate& gate = s().gateRow;
    drag(upper.lines.valueFader1, 100);
    drag(upper.lines.valueFader2, 0);
    drag(gate.lines.velocityFader1, 127);
    drag(gate.lines.velocityFader2, 0);
    EXPECT_EQ(upper.lines.valueDis1.value, 100);
    EXPECT_EQ(gate.lines.velocityDis2.value, 0);
    for (But3* step : {&upper.stepButtons[0], &gate.stepButtons[1]}) click(step->x + 7, step->y + 7);
    for (But3* step : {&upper.stepButtons[1], &gate.stepButtons[0]}) click(step->x + 7, step->y + 22);
    pointer_at(-100, -100);
    startstop();
    frame();
    for (Led* led : {&upper.led1, &gate.led2}) EXPECT_TRUE(shows(skin.buttonled_on, led->x, led->y));
    tick_passes(1, 24);
    EXPECT_EQ(sent(), (Messages{{0xB0, 1, 100}, CC1, Off0, {0x90, 0x24, 0}, {0xB0, 1, 0}, CC1, Off36,
                                {0x90, 0x24, 127}, CC1, CC1, Off36, On36}));
}

TEST_F(PlayTest, ControllerNumberZeroSilencesTheRowAndIsFrozenWhileRunning)
{
    Fader& number = s().upperControllerRow.lines.controllerFader;
    drag(number, 0);
    EXPECT_EQ(s().upperControllerRow.lines.controllerDis.value, 0);
    startstop();
    EXPECT_EQ(sent(), (Messages{CC1, Off0, On36}));
    grab(number);
    for (int x = number.x; x < number.x + 100; ++x) {
        pointer_at(x, number.y + 7, 1);
        frame();
    }
    EXPECT_EQ(number.value, 0);
    release();
    startstop();
    drag(number, 7);
    MidiRecorder::clear();
    startstop();
    EXPECT_EQ(sent().front(), (Message{0xB0, 0x07, 0x40}));
}

// The velocity row sounds the note row's latest pitch: a note row half as fast
// repeats each note, one twice as fast skips every second one. RATE 16 is a
// step of 12 ticks, and each position of the slider doubles or halves it.
TEST_F(PlayTest, NoteRowPlaysItsLinesAtItsOwnRate)
{
    Row_Note& note = s().noteRow;
    drag(note.lines.octaveFader1, 5);
    drag(note.lines.noteFader2, 2);
    drag(note.lines.octaveFader3, 9);
    drag(note.lines.noteFader3, 11);
    EXPECT_EQ(note.lines.noteDis3.value, 119);
    for (int k = 0; k < 8; ++k) click(note.stepButtons[k].x + 7, note.stepButtons[k].y + 7 + 15 * (k % 3));
    drag(note.rateFader, 3);
    EXPECT_EQ(note.rateDis.value, 8);
    EXPECT_EQ(notes_played(60), (std::vector<int>{60, 60, 38, 38, 119, 119}));
    drag(note.rateFader, 5);
    EXPECT_EQ(notes_played(60), (std::vector<int>{60, 119, 38, 60, 60, 119}));
    drag(note.rateFader, 0);
    EXPECT_EQ(notes_played(191), std::vector<int>(16, 60)) << "RATE 1: a step a bar";
}

// SPEED re-times the tick clock; MIDI CHANNEL sweeps the old channels and moves every status byte.
TEST_F(PlayTest, SpeedAndChannelFaders)
{
    Cockpit& c = s().cockpit;
    drag(c.speedTensFader, 13);
    EXPECT_EQ(c.speedDis.value, 130);
    EXPECT_EQ(installedPeriods, (std::vector<int>{11472}));
    drag(c.speedTensFader, 24);
    drag(c.speedUnitsFader, 9);
    EXPECT_EQ(c.speedDis.value, 249);
    EXPECT_EQ(installedPeriods.back(), 5989);
    startstop();
    MidiRecorder::clear();
    drag(c.channelFader, 2);
    EXPECT_EQ(sent(), sweep());
    EXPECT_EQ(c.channelDis.value, 2);
    drag(c.channelFader, 16);
    MidiRecorder::clear();
    tick_pass(12);
    EXPECT_EQ(sent(), (Messages{{0xBF, 1, 0x40}, {0xBF, 1, 0x40}, {0x8F, 0x24, 0x7F}, {0x9F, 0x24, 0x40}}));
}

// The bytes as they leave, with MIDI clock out: single-byte messages among the three-byte ones.
const Bytes Clock = {0xF8};
Bytes times(int n, const Bytes& b) { return n ? b + times(n - 1, b) : Bytes{}; }
Bytes taken()
{
    Bytes sent = MidiRecorder::bytes;
    MidiRecorder::clear();
    return sent;
}
Bytes bytes_of(const Messages& messages)
{
    Bytes all;
    for (const Message& m : messages) all = all + Bytes(m.begin(), m.end());
    return all;
}
void set_lines(std::initializer_list<Fader*> faders, std::initializer_list<int> values)
{
    auto value = values.begin();
    for (Fader* fader : faders) fader->set(*value++);
}

TEST_F(PlayTest, ClockOutStartsBeforeTheFirstTickAndStopsBeforeEachSweep)
{
    s().clockOut = true;
    startstop();
    EXPECT_EQ(taken(), Bytes{0xFA} + Clock + bytes_of({CC1, CC1, Off0, On36}));
    tick_passes(1, 12);
    EXPECT_EQ(taken(), times(6, Clock) + bytes_of({CC1, CC1, Off36, On36})) << "every 2 ticks, first in its tick";
    startstop();
    EXPECT_EQ(taken(), Bytes{0xFC} + bytes_of(sweep()));
    click(s().cockpit.exitButton.x + 7, s().cockpit.exitButton.y + 7);
    EXPECT_EQ(taken(), Bytes{0xFC} + bytes_of(sweep())) << "EXIT stops the followers too";
    EXPECT_TRUE(exitnow);
}

// After a stall every row still walks through every owed step, so the rows
// keep their places, but each sends only its newest step; every owed clock goes out.
TEST_F(PlayTest, OwedTicksKeepEveryRowsPlaceButSendOnlyTheNewestStepAndEveryClock)
{
    Row_Mode& upper = s().upperControllerRow;
    Row_Mode& lower = s().lowerControllerRow;
    Row_Note& note = s().noteRow;
    Row_Gate& gate = s().gateRow;
    upper.rate = gate.rate = 3;
    note.rate = 6;
    lower.rate = 12;
    for (auto* row : {&upper.stepButtons, &note.stepButtons, &gate.stepButtons})
        for (int k = 0; k < 8; ++k) (*row)[k].state = 2 - k % 3;  // lines 1, 2, 3, 1, 2, ...
    lower.stepButtons[4].state = 2;
    set_lines({&upper.lines.valueFader1, &upper.lines.valueFader2, &upper.lines.valueFader3}, {10, 20, 30});
    set_lines({&lower.lines.valueFader1, &lower.lines.valueFader2, &lower.lines.valueFader3}, {11, 21, 31});
    set_lines({&note.lines.noteFader1, &note.lines.noteFader2, &note.lines.noteFader3}, {0, 2, 4});  // 36, 38, 40
    set_lines({&gate.lines.velocityFader1, &gate.lines.velocityFader2, &gate.lines.velocityFader3}, {100, 80, 60});
    s().clockOut = true;
    startstop();
    EXPECT_EQ(taken(), (Bytes{0xFA} + Clock + Bytes{0xB0, 1, 10, 0xB0, 1, 31, 0x80, 0, 0x7F, 0x90, 36, 100}));
    struct Pass { int tick; Bytes sent; int upperAt, lowerAt, gateAt; };
    const Bytes upperAndGate = {0xB0, 1, 20, 0x80, 36, 0x7F, 0x90, 36, 80};
    const Pass passes[] = {
        {2, Clock, 1, 1, 1},                      // two owed, nothing due
        {5, upperAndGate + Clock, 2, 1, 2},       // three owed
        // 48 owed: 16 steps of the fast rows and 4 of the lower one, one message each.
        {53, times(22, Clock) + Bytes{0xB0, 1, 11} + Clock + upperAndGate + Clock, 2, 5, 2},
    };
    for (const Pass& pass : passes) {
        tick_pass(pass.tick);
        EXPECT_EQ(taken(), pass.sent) << "tick " << pass.tick;
        EXPECT_EQ(upper.loopBar.current, pass.upperAt) << "tick " << pass.tick;
        EXPECT_EQ(lower.loopBar.current, pass.lowerAt) << "tick " << pass.tick;
        EXPECT_EQ(gate.loopBar.current, pass.gateAt) << "tick " << pass.tick;
    }
}

// About 124 days at 249 BPM: the counter wraps, the rows keep their 12-tick pace.
TEST_F(PlayTest, TheTickCounterWrapsWithoutLosingThePace)
{
    startstop();
    timerCounter_last = INT_MAX - 30;
    std::vector<int> stepsAt;
    for (unsigned i = 1; i <= 60; ++i) {
        taken();
        tick_pass(static_cast<int>(static_cast<unsigned>(INT_MAX) - 30u + i));
        if (!taken().empty()) stepsAt.push_back(static_cast<int>(i));
    }
    EXPECT_EQ(stepsAt, (std::vector<int>{12, 24, 36, 48, 60}));
}

// How much later than its straight tick a moment of rate 64 is played at 120 BPM, in timer units rounded up.
TEST(Swing, TheWarpMovesEachMomentOfAPairAndNothingEarlier)
{
    const std::pair<int, std::array<long long, 6>> cases[] = {  // ticks 3, 9, 12, 15, 21, 24 into the pair
        {50, {0, 0, 0, 0, 0, 0}}, {54, {2983, 8949, 11931, 8949, 2983, 0}},
        {62, {8949, 26845, 35793, 26845, 8949, 0}}, {75, {18642, 55926, 74568, 55926, 18642, 0}}};
    for (const auto& [percent, delays] : cases)
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(swing_delay_units(std::array{3, 9, 12, 15, 21, 24}[k], percent, tick_period(120)), delays[k]) << percent;
}

// At 75 % the step of tick 12 waits until tick 18's moment, behind the clock
// out; the fader counts from the next pair; a stop drops a step still waiting.
TEST_F(PlayTest, SwungStepsWaitForTheirMomentWhileTheClockOutStaysStraight)
{
    static long long now;
    now = 0;
    s().clockNow = [] { return now; };
    s().clockOut = s().swing.on = true;
    s().swing.percent = 62;
    s().swing.draw_first(s());
    Fader& fader = *s().swing.fader;
    EXPECT_TRUE(shows(skin.faderknob_ut, fader.x + fader.knob_pos, fader.y) && fader.knob_pos > 0) << "62 % drawn";
    drag(fader, 75);
    startstop();
    MidiRecorder::clear();
    auto notes = [] { return std::count(MidiRecorder::bytes.begin(), MidiRecorder::bytes.end(), 0x90); };
    tick_passes(1, 17);
    EXPECT_EQ(MidiRecorder::bytes, std::vector<int>(8, 0xF8)) << "ticks 2 to 16 clocked, the step of 12 waits";
    now = 62495128;  // 6 ticks of 120 BPM, rounded up, less a nanosecond
    tick_pass(17);
    EXPECT_EQ(MidiRecorder::bytes.size(), 8u);
    now += 1;
    tick_pass(17);
    std::vector<int> step = {0xB0, 1, 0x40, 0xB0, 1, 0x40, 0x80, 0x24, 0x7F, 0x90, 0x24, 0x40};
    step.insert(step.begin(), 8, 0xF8);
    EXPECT_EQ(MidiRecorder::bytes, step);
    drag(fader, 50);
    tick_passes(18, 30);
    drag(fader, 75);
    tick_passes(31, 36);
    EXPECT_EQ(notes(), 3) << "ticks 24 and 36 straight: the pair had begun at 50 %";
    tick_passes(37, 60);
    EXPECT_EQ(notes(), 4) << "tick 48 straight, tick 60 waits";
    startstop();
    now = 1000000000000;
    tick_pass(61);
    EXPECT_EQ(notes(), 4) << "no Note On after the sweep";
    EXPECT_EQ(MidiRecorder::bytes.back(), 0);
}

// Allegro's configuration as a user writes it, read once at start.
TEST(Options, YesNoOrAWordOnStderr)
{
    start_headless_allegro();
    struct Case { const char* config; bool clock; std::string panelFile; const char* complaint; };
    const Case cases[] = {
        {"", false, "", ""},
        {"[kalverosin4]\nmidi_clock = yes\n", true, "", ""},
        {"[kalverosin4]\nmidi_clock = maybe\n", false, "", "midi_clock = maybe"},
        {"[sound]\nmidi_clock = yes\nremember_panel = yes\n", false, "", ""},
        {"[kalverosin4]\nremember_panel = yes\npanel_file = ~/live\n", false,
         std::getenv("HOME") + std::string("/live"), ""},
        {"[kalverosin4]\npanel_file = /tmp/p\n", false, "", ""},
        {"[kalverosin4]\nremember_panel = on\npanel_file = /tmp/p\n", false, "/tmp/p", ""},
        {"[kalverosin4]\nremember_panel = on\npanel_file = /tmp/p\t# kept\n", false, "/tmp/p\t# kept",
         "panel_file = /tmp/p\t# kept: Allegro keeps a comment that follows a value"},
    };
    for (const Case& c : cases) {
        set_config_data(c.config, static_cast<int>(std::strlen(c.config)));
        ConfigOptions options;
        std::string said = stderr_of([&] { options = read_options(); });
        EXPECT_EQ(options.midiClock, c.clock) << c.config;
        EXPECT_EQ(options.panelFile, c.panelFile) << c.config;
        EXPECT_EQ(said.empty(), !*c.complaint) << said;
        EXPECT_NE(said.find(c.complaint), std::string::npos) << said;
    }
    set_config_data("", 0);
}

}  // namespace
