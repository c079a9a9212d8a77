// The main loop headless: the cockpit driven with the pointer, ticks set by
// hand, MIDI recorded byte for byte.
#include "headless.h"

#include <vector>

namespace {

constexpr int StartstopX = 195 + 7;
constexpr int ButtonY = 430 + 7;
constexpr int ExitX = 25 + 7;

const Message CC1 = {0xB0, 0x01, 0x40};
const Message Off0 = {0x80, 0x00, 0x7F};
const Message Off36 = {0x80, 0x24, 0x7F};
const Message On36 = {0x90, 0x24, 0x40};

std::vector<Message> sweep()
{
    std::vector<Message> all;
    for (int channel = 0; channel < 16; ++channel) all.push_back({0xB0 + channel, 0x7B, 0x00});
    return all;
}

class MainLoopTest : public SequencerTest {
protected:
    // Hover frame, then the frame of the press; the toggle happens in the latter.
    void press_button(int x, int y)
    {
        pointer_at(x, y, 0);
        frame();
        press();
        frame();
    }
    void release_button()
    {
        release();
        frame();
    }
    // Starts the transport; the test's own passes then handle tick 0 on.
    void start()
    {
        press_button(StartstopX, ButtonY);
        release();
        MidiRecorder::clear();
        timerCounter = 0;
        timerCounter_last = -1;
    }
    // Passes for ticks from..to, one tick per pass.
    void ticks(int from, int to)
    {
        for (int t = from; t <= to; ++t) tick_pass(t);
    }
    // Drags a fader's knob with the pointer, frame by frame, until it shows v.
    void drag(Fader& fader, int v)
    {
        pointer_at(fader.x + fader.knob_pos + 7, fader.y + 7, 0);
        frame();
        press();
        frame();
        int step = v < fader.value ? -1 : 1;
        for (int rel = fader.knob_pos; fader.value != v && rel >= -1 && rel <= fader.length; rel += step) {
            pointer_at(fader.x + rel + 7, fader.y + 7, 1);
            frame();
        }
        ASSERT_EQ(fader.value, v);
        release_button();
    }
    Sequencer& s() { return *sequencer; }
};

TEST_F(MainLoopTest, FirstStartSendsTheFourMessagesEveryTwelveTicks)
{
    press_button(StartstopX, ButtonY);
    EXPECT_TRUE(s().running());
    EXPECT_TRUE(sent().empty()) << "the start itself sends nothing";
    tick_pass(0);
    EXPECT_EQ(sent(), (std::vector<Message>{CC1, CC1, Off0, On36}));
    MidiRecorder::clear();
    ticks(1, 11);
    EXPECT_TRUE(sent().empty());
    ticks(12, 48);
    std::vector<Message> expected;
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), {CC1, CC1, Off36, On36});
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(s().gateRow.loopBar.current, 5);
}

TEST_F(MainLoopTest, TicksHiddenByALongFrameAreCaughtUpButNotBeyondABeat)
{
    start();
    ticks(0, 11);
    MidiRecorder::clear();
    tick_pass(13);
    EXPECT_EQ(sent(), (std::vector<Message>{CC1, CC1, Off36, On36})) << "tick 12 was skipped by the counter";
    MidiRecorder::clear();
    tick_pass(13 + 49);
    EXPECT_TRUE(sent().empty()) << "more than a beat behind: only tick 62 is handled";
    EXPECT_EQ(s().noteRow.loopBar.current, 2);
    tick_pass(72);
    EXPECT_EQ(sent().size(), 4u);
    EXPECT_EQ(s().noteRow.loopBar.current, 3);
}

TEST_F(MainLoopTest, RestartHandlesTickZeroEvenWhenTheTimerHasMovedOn)
{
    start();
    ticks(0, 30);
    for (int i = 0; i < 12; ++i) frame();
    press_button(StartstopX, ButtonY);
    EXPECT_FALSE(s().running());
    for (int i = 0; i < 12; ++i) frame();
    MidiRecorder::clear();
    press_button(StartstopX, ButtonY);
    ASSERT_TRUE(s().running());
    timerCounter = 2;
    FrameTimer = 0;
    s().pass();
    EXPECT_EQ(sent(), (std::vector<Message>{CC1, CC1, Off36, On36}));
    EXPECT_EQ(s().upperControllerRow.loopBar.current, 1);
}

TEST_F(MainLoopTest, StopSendsExactlyTheSweepAndSilencesTheRows)
{
    start();
    ticks(0, 20);
    for (int i = 0; i < 10; ++i) frame();
    MidiRecorder::clear();
    press_button(StartstopX, ButtonY);
    EXPECT_FALSE(s().running());
    EXPECT_EQ(sent(), sweep());
    MidiRecorder::clear();
    ticks(21, 200);
    EXPECT_TRUE(sent().empty());
    for (ButLed* bar : {&s().upperControllerRow.loopBar, &s().lowerControllerRow.loopBar, &s().gateRow.loopBar,
                        &s().noteRow.loopBar})
        EXPECT_EQ(bar->current, 0);
    frame();
    EXPECT_TRUE(same_pixels(schirm->surface, 195, 335, skin.buttonled_off, 0, 0, 15, 15))
        << "the loop bars show no lit step after the stop";
    EXPECT_TRUE(same_pixels(schirm->surface, 195 + 15, 85, skin.buttonled_off, 0, 0, 15, 15));
}

TEST_F(MainLoopTest, StartstopPressedTwiceWithinTenFramesIgnoresTheSecond)
{
    press_button(StartstopX, ButtonY);
    release_button();
    frame();
    press_button(StartstopX, ButtonY);
    EXPECT_TRUE(s().running());
    for (const Message& m : sent()) EXPECT_NE(m[1], 0x7B) << "no stop sweep";
}

TEST_F(MainLoopTest, ControllerNumberZeroStepsButSendsNothing)
{
    drag(s().upperControllerRow.controllerFader, 0);
    EXPECT_EQ(s().upperControllerRow.controllerDis.value, 0);
    start();
    tick_pass(0);
    EXPECT_EQ(sent(), (std::vector<Message>{CC1, Off0, On36}));
    EXPECT_EQ(s().upperControllerRow.loopBar.current, 1);
    EXPECT_EQ(s().upperControllerRow.led3.state, 1);
}

TEST_F(MainLoopTest, VelocityZeroIsSentUnchanged)
{
    drag(s().gateRow.velocityFader3, 0);
    start();
    tick_pass(0);
    EXPECT_EQ(sent().back(), (Message{0x90, 0x24, 0x00}));
}

TEST_F(MainLoopTest, ControllerFaderIsFrozenWhileRunning)
{
    Fader& controller = s().upperControllerRow.controllerFader;
    start();
    pointer_at(controller.x + controller.knob_pos + 7, controller.y + 7, 0);
    frame();
    EXPECT_EQ(controller.last_touched, 0) << "no hover while running";
    press();
    pointer_at(controller.x + 100, controller.y + 7, 1);
    frame();
    frame();
    EXPECT_EQ(controller.value, 1);
    release_button();
    for (int i = 0; i < 10; ++i) frame();
    press_button(StartstopX, ButtonY);
    release_button();
    ASSERT_FALSE(s().running());
    drag(controller, 7);
    EXPECT_EQ(s().upperControllerRow.controllerDis.value, 7);
    start();
    tick_pass(0);
    EXPECT_EQ(sent().front(), (Message{0xB0, 0x07, 0x40}));
}

TEST_F(MainLoopTest, ChannelChangeSweepsThenMovesEveryStatusByte)
{
    start();
    tick_pass(0);
    MidiRecorder::clear();
    drag(s().cockpit.channelFader, 2);
    EXPECT_EQ(sent(), sweep());
    EXPECT_EQ(s().midiChannel, 1);
    MidiRecorder::clear();
    tick_pass(12);
    EXPECT_EQ(sent(), (std::vector<Message>{{0xB1, 1, 0x40}, {0xB1, 1, 0x40}, {0x81, 0x24, 0x7F}, {0x91, 0x24, 0x40}}));

    drag(s().cockpit.channelFader, 16);
    // The fader's last column overlaps the display's first one.
    EXPECT_TRUE(same_pixels(schirm->surface, 594, 444, Picture(Dis3(0, skin, 0, 0, 16).draw(0)).get(), 1, 0, 24, 15));
    MidiRecorder::clear();
    tick_pass(24);
    EXPECT_EQ(sent(), (std::vector<Message>{{0xBF, 1, 0x40}, {0xBF, 1, 0x40}, {0x8F, 0x24, 0x7F}, {0x9F, 0x24, 0x40}}));
}

// Note ons of the first n gate steps, with the note row's steps giving 60, 62, 64, ...
class NoteRateTest : public MainLoopTest {
protected:
    std::vector<int> sounded_notes(int noteRate, int ticksToPlay)
    {
        Row_Note& note = s().noteRow;
        for (int k = 0; k < 8; ++k) note.stepButtons[k].state = k % 3 == 0 ? 2 : k % 3 == 1 ? 1 : 0;
        note.octaveFader1.value = 5;
        note.octaveFader2.value = 6;
        note.octaveFader3.value = 7;
        note.rate = noteRate;
        start();
        ticks(0, ticksToPlay);
        std::vector<int> notes;
        for (const Message& m : sent())
            if (m[0] == 0x90) notes.push_back(m[1]);
        return notes;
    }
};

TEST_F(NoteRateTest, SlowNoteRowRepeatsAndFastOneSkips)
{
    EXPECT_EQ(sounded_notes(24, 60), (std::vector<int>{60, 60, 72, 72, 84, 84}));
}

TEST_F(NoteRateTest, FastNoteRowSkipsEverySecondNote)
{
    EXPECT_EQ(sounded_notes(6, 60), (std::vector<int>{60, 84, 72, 60, 60, 84}));
}

TEST_F(MainLoopTest, TempoFadersReTimeTheTickClock)
{
    drag(s().cockpit.speedTensFader, 13);
    EXPECT_EQ(s().cockpit.speedDis.value, 130);
    EXPECT_EQ(installedPeriods.back(), 11472);
    drag(s().cockpit.speedTensFader, 24);
    drag(s().cockpit.speedUnitsFader, 9);
    EXPECT_EQ(s().cockpit.speedDis.value, 249);
    EXPECT_EQ(installedPeriods.back(), 5989);
    drag(s().cockpit.speedTensFader, 4);
    drag(s().cockpit.speedUnitsFader, 0);
    EXPECT_EQ(installedPeriods.back(), 37286);
    drag(s().cockpit.speedTensFader, 12);
    EXPECT_EQ(installedPeriods.back(), 12428);
    for (int period : installedPeriods) EXPECT_TRUE(period >= 5989 && period <= 37286) << period;
}

TEST_F(MainLoopTest, ExitSweepsAndEndsTheLoop)
{
    start();
    ticks(0, 5);
    MidiRecorder::clear();
    press_button(ExitX, ButtonY);
    EXPECT_TRUE(exitnow);
    EXPECT_EQ(sent(), sweep());
}

TEST_F(MainLoopTest, CockpitShowsTempoChannelAndDriverName)
{
    auto display = [&](int value) { return Picture(Dis3(0, skin, 0, 0, value).draw(0)); };
    EXPECT_TRUE(same_pixels(schirm->surface, 522, 430, display(120).get(), 0, 0, 25, 15));
    EXPECT_TRUE(same_pixels(schirm->surface, 593, 444, display(1).get(), 0, 0, 25, 15));
    EXPECT_TRUE(same_pixels(schirm->surface, 195, 430, skin.button_ut_up, 0, 0, 15, 15));

    Cockpit cockpit(skin, "ALSA Seq 4");
    EXPECT_EQ(cockpit.driverLabelText.x, 389);
    EXPECT_EQ(cockpit.driverNameText.x, 550);
    cockpit.draw_first(*schirm, skin);
    BITMAP* expected = create_bitmap(70, 11);
    blit(skin.cock_panel, expected, 540, 10, 0, 0, 70, 11);
    int columns[] = {0, 11, 18, 0, -1, 18, 4, 16, -1, 30};  // A L S A _ S e q _ 4
    for (int k = 0; k < 10; ++k)
        if (columns[k] >= 0) masked_blit(skin.alphabet, expected, columns[k] * 7, 0, 7 * k, 0, 7, 11);
    EXPECT_TRUE(same_pixels(schirm->surface, 550, 20, expected, 0, 0, 70, 11));
    destroy_bitmap(expected);
}

TEST_F(MainLoopTest, DriverWithoutRawOutputStillPlaysItsNotes)
{
    // The sound system must be up for Allegro to play messages through voices.
    static bool sound = install_sound(DIGI_NONE, MIDI_NONE, nullptr) == 0;
    ASSERT_TRUE(sound);
    static std::vector<int> keys;
    keys.clear();
    static MIDI_DRIVER noRaw = MidiRecorder::driver;
    noRaw.raw_midi = nullptr;
    noRaw.key_on = [](int, int note, int, int, int) { keys.push_back(note); };
    noRaw.key_off = [](int) {};
    midi_driver = &noRaw;
    send_midi(0x90, 60, 100);
    send_midi(0x80, 60, 127);
    send_midi(0x90, 64, 100);
    EXPECT_TRUE(MidiRecorder::bytes.empty());
    EXPECT_EQ(keys, (std::vector<int>{60, 64}));
    midi_driver = &MidiRecorder::driver;
}

TEST_F(MainLoopTest, FramesReleaseEveryPictureTheyDraw)
{
    int baseline = live_pictures();
    start();
    for (int t = 0; t < 300; ++t) {
        pointer_at(50 + (t * 37) % 560, 70 + (t * 53) % 400, (t / 7) % 3 == 0 ? 1 : 0);
        tick_pass(t);
        frame();
    }
    EXPECT_EQ(live_pictures(), baseline);
}

}  // namespace
