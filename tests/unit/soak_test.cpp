// The whole panel under random input for a long time: pointer walks, presses,
// drags and releases with either button over every widget and the gaps between
// them, the transport toggled, the tick counter jumping. Everything sent must
// be well-formed MIDI, every control must stay in its range and no picture may
// be left behind. KALVEROSIN_SOAK_FRAMES sets the length (default 200000).
#include "headless.h"

#include <cstdlib>
#include <random>

namespace {

class Soak : public SequencerTest {
protected:
    std::mt19937 random{20261206};

    // The copy of the surface to the window is not what is soaked here, and
    // under the address sanitizer it would cost most of the run.
    void SetUp() override
    {
        SequencerTest::SetUp();
        destroy_bitmap(screen);
        screen = create_bitmap(1, 1);
    }

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return between(1, 100) <= percent; }

    // Where the pointer goes next: mostly small steps, sometimes a jump, and
    // now and then onto the transport button so that it runs half the time.
    void walk()
    {
        if (chance(1)) {
            pointer_at(202, 437, mouse_b);
            return;
        }
        if (chance(5)) {
            pointer_at(between(-20, 660), between(-20, 500), mouse_b);
            return;
        }
        pointer_at(mouse_x + between(-12, 12), mouse_y + between(-12, 12), mouse_b);
    }
    void buttons()
    {
        if (chance(8)) mouse_b = mouse_b ? 0 : (chance(80) ? 1 : 2);
    }
    void ticks()
    {
        int jump = chance(2) ? between(2, 120) : between(0, 2);
        timerCounter = timerCounter.load() + jump;
    }
};

void expect_fader_in_range(const Fader& f)
{
    ASSERT_GE(f.value, f.min);
    ASSERT_LE(f.value, f.max);
    ASSERT_GE(f.knob_pos, 0);
    ASSERT_LE(f.knob_pos, f.length - 15);
}

template <class Row>
void expect_row_in_range(const Row& row)
{
    expect_fader_in_range(row.rateFader);
    expect_fader_in_range(row.stepFader);
    expect_fader_in_range(row.directFader);
    ASSERT_EQ(row.rate, 192 >> row.rateFader.value);
    ASSERT_GE(row.loopBar.start, 1);
    ASSERT_LE(row.loopBar.start, 16);
    ASSERT_GE(row.loopBar.end, 1);
    ASSERT_LE(row.loopBar.end, 17);
    ASSERT_GE(row.loopBar.current, -16);
    ASSERT_LE(row.loopBar.current, 33);
    ASSERT_EQ(row.led1.state + row.led2.state + row.led3.state <= 1, true);
}

// Each message: a sweep message, or a row's message on the current channel;
// a Note On always right after a Note Off.
void expect_well_formed(const std::vector<int>& bytes, size_t from, int channel)
{
    ASSERT_EQ((bytes.size() - from) % 3, 0u);
    for (size_t i = from; i < bytes.size(); i += 3) {
        int status = bytes[i], data1 = bytes[i + 1], data2 = bytes[i + 2];
        ASSERT_LT(data1, 0x80);
        ASSERT_LT(data2, 0x80);
        int kind = status & 0xF0;
        ASSERT_TRUE(kind == 0x80 || kind == 0x90 || kind == 0xB0) << std::hex << status;
        bool sweep = kind == 0xB0 && data1 == 0x7B && data2 == 0;
        if (!sweep) {
            ASSERT_EQ(status & 0x0F, channel);
        }
        if (kind == 0x90) {
            ASSERT_GE(i, 3u);
            ASSERT_EQ(bytes[i - 3] & 0xF0, 0x80) << "Note On without the Note Off before it";
        }
    }
}

TEST_F(Soak, RandomPlayKeepsEverythingInRangeAndLeavesNothingBehind)
{
    const char* setting = std::getenv("KALVEROSIN_SOAK_FRAMES");
    const int frames = setting ? std::atoi(setting) : 200000;
    Sequencer& s = *sequencer;
    int baseline = live_pictures();
    int starts = 0;
    pointer_at(320, 240, 0);
    for (int f = 0; f < frames; ++f) {
        walk();
        buttons();
        ticks();
        size_t before = MidiRecorder::bytes.size();
        int channel = s.midiChannel;
        bool wasRunning = s.running();
        FrameTimer = 1;
        s.pass();
        starts += !wasRunning && s.running();
        exitnow = false;
        // The ticks come before the frame, so a pass's row messages use the channel it began with.
        ASSERT_NO_FATAL_FAILURE(expect_well_formed(MidiRecorder::bytes, before, channel));
        ASSERT_EQ(live_pictures(), baseline) << "frame " << f;
        ASSERT_NO_FATAL_FAILURE(expect_row_in_range(s.upperControllerRow));
        ASSERT_NO_FATAL_FAILURE(expect_row_in_range(s.lowerControllerRow));
        ASSERT_NO_FATAL_FAILURE(expect_row_in_range(s.gateRow));
        ASSERT_NO_FATAL_FAILURE(expect_row_in_range(s.noteRow));
        ASSERT_NO_FATAL_FAILURE(expect_fader_in_range(s.cockpit.channelFader));
        ASSERT_EQ(s.cockpit.speedDis.value, s.cockpit.tempo());
        ASSERT_GE(s.cockpit.tempo(), 40);
        ASSERT_LE(s.cockpit.tempo(), 249);
        ASSERT_EQ(s.midiChannel, s.cockpit.channelFader.value - 1);
        if (MidiRecorder::bytes.size() > 30000) MidiRecorder::clear();
    }
    EXPECT_GT(starts, 10) << "the walk should have played the sequencer";
}

}  // namespace
