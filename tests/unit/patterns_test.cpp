// Sixteen patterns chosen on the strip and by Program Change, switched on the
// bar line; the note row transposed from a keyboard.
#include "headless.h"

#include <algorithm>
#include <deque>
#include <random>

namespace {

std::deque<MasterMessage> fed;  // what the input gives in the next pass
long long fedNow = 0;           // nanoseconds

PanelPlace StripPlaces(int n) { return panel_place("pattern-" + std::to_string(n + 1)); }

// The first step of a pattern: every row at the start of its loop (its end, going backward).
Bytes first_step(const Pattern& p, int noteBefore)
{
    auto first = [](const RowPattern& r) { return r.values[2 - r.lines[(r.direct ? std::min(r.loopStart, r.loopEnd) : std::max(r.loopStart, r.loopEnd)) - 1]]; };
    Bytes b;
    for (const RowPattern& r : {p.rows[0], p.rows[1]}) b = r.controller ? b + Bytes{0xB0, r.controller, first(r)} : b;
    return b + Bytes{0x80, noteBefore, 0x7F, 0x90, first(p.rows[2]), first(p.rows[3])};
}

class PatternsTest : public SequencerTest {
protected:
    void SetUp() override
    {
        SequencerTest::SetUp();
        fed.clear();
        fedNow = 1000000000;
        s().readMaster = [](MasterMessage& m) { return !fed.empty() && (m = fed.front(), fed.pop_front(), true); };
        s().clockNow = [] { return fedNow; };
        s().patterns.on = true;
    }
    // The bytes of tick t; a follower's master sends a clock for every even tick, the odd ones fall between.
    Bytes play(long long t)
    {
        size_t before = MidiRecorder::bytes.size();
        fedNow += 10000000;
        if (s().followClock && t % 2 == 0) fed.push_back({MasterKind::Clock, 0});
        tick_pass(static_cast<int>(t));
        return Bytes(MidiRecorder::bytes.begin() + before, MidiRecorder::bytes.end());
    }
    // The last tick played: 0 on the own clock; a master stands at tick 95 (bar 1, beat 3),
    // and its bar lines are counted from its own start.
    long long start(bool following)
    {
        MidiRecorder::clear();
        if (!(s().followClock = following)) click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        fed.insert(fed.end(), {{MasterKind::SongPosition, 8}, {MasterKind::Continue, 0}});  // heard only when following
        return following ? 95 : 0;
    }
};

// Eight random patterns and eight empty ones; at random ticks a click on the strip, or a Program Change
// on the panel's channel or another, chooses one: a later choice replaces an earlier one, a choice of the
// one that plays takes it back. Half on the own clock with a switch every bar, half following a master
// with one every second bar, MIDI clock out. Each choice comes exactly at the bar line after the tick
// that followed it, with the first step of its pattern (an empty one as a copy of the one that played),
// every Note Off is for the pitch that sounds, and a clock goes out at every second tick and no other.
TEST_F(PatternsTest, AThousandRandomSwitchesComeOnTheirBarLines)
{
    std::mt19937 random(29);
    auto any = [&](int low, int high) { return low + static_cast<int>(random() % (high - low + 1)); };
    std::array<Pattern, PatternCount> kept{};
    for (int n = 0; n < 8; ++n) {
        for (RowPattern& r : kept[n].rows) {
            r = {any(0, 6), any(1, 16), any(0, 2), any(1, 16), any(1, 15), {}, any(0, 3), {any(0, 119), any(0, 119), any(0, 119)}};
            r.loopEnd += r.loopEnd >= r.loopStart;
            for (int& line : r.lines) line = any(0, 2);
        }
        kept[n].used = true;
    }
    put_in_rows(s(), (s().patterns.bank.patterns = kept)[0]);
    s().clockOut = true;
    int switches = 0, sounding = 0, playing = 0, coming = 0;
    for (bool following : {false, true}) {
        if (following) click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        int grid = s().patterns.grid = (1 + following) * BarTicks;
        long long t = start(following), due = -1;
        for (Bytes tick = MidiRecorder::bytes; switches < (following ? 1000 : 500); tick = play(++t)) {
            Bytes steps = tick;  // without the clocks
            steps.erase(std::remove_if(steps.begin(), steps.end(), [](int b) { return b >= 0xF8; }), steps.end());
            EXPECT_EQ(std::count(tick.begin(), tick.end(), 0xF8), t % 2 == 0) << t;
            if (t == due) {
                if (!kept[coming].used) kept[coming] = kept[playing];
                ASSERT_EQ(steps, first_step(kept[coming], sounding)) << switches << " at " << t;
                ++switches, due = -1, playing = coming;
            }
            ASSERT_EQ(s().patterns.bank.playing, playing) << t;
            ASSERT_EQ(s().patterns.chosen(), due < 0 ? -1 : coming) << t;
            for (size_t i = 0; i + 2 < steps.size(); sounding = steps[i] == 0x90 ? steps[i + 1] : sounding, i += 3)
                EXPECT_TRUE(steps[i] != 0x80 || steps[i + 1] == sounding) << t;
            if (random() % 100) continue;
            int n = any(0, 15), by = any(0, 3);
            if (by < 2) fed.push_back({MasterKind::ProgramChange, 0, 1 - by, n});  // channel 2 is not the panel's
            if (by >= 2) click(StripPlaces(n).x + 7, StripPlaces(n).y + 7);
            if (by > 0) coming = n, due = n == playing ? -1 : (t + 1 + grid) / grid * grid;
        }
    }
}

// A key latches the transposition from the next Note On, moved by octaves into range; every Note Off
// is for the pitch sent, and the display shows the key.
TEST_F(PatternsTest, AKeyTransposesTheNoteRowFromItsNextNoteOn)
{
    struct Key { int listened, channel, key, velocity, note, sent; };
    const Key keys[] = {{-1, 0, 60, 100, 36, 36}, {-1, 0, 67, 100, 36, 43}, {-1, 0, 72, 0, 36, 43}, {-1, 1, 50, 100, 36, 43},
                        {-1, 0, 0, 100, 36, 0},   {-1, 0, 10, 9, 36, 10},   {-1, 0, 127, 1, 36, 103},
                        {-1, 0, 127, 1, 119, 126}, {1, 1, 62, 100, 36, 38}, {1, 0, 70, 100, 36, 38}};
    s().transpose.on = true;
    s().draw_first_picture();
    Pattern usual = pattern_of_rows(s());
    long long t = start(false);
    int before = 36;  // c3
    for (const Key& k : keys) {
        s().transpose.channel = k.listened;
        usual.rows[2].values.fill(k.note);
        put_in_rows(s(), usual);
        fed.push_back({MasterKind::NoteOn, 0, k.channel, k.key, k.velocity});
        while (++t % 12) play(t);
        Bytes step = play(t);
        EXPECT_EQ(Bytes(step.end() - 6, step.end()), (Bytes{0x80, before, 0x7F, 0x90, k.sent, 64})) << k.key;
        before = k.sent;
    }
    frame();
    BITMAP* shown = Dis3(0, skin, 0, 0, 62).draw(0).bitmap;
    EXPECT_TRUE(shows(shown, panel_place("transpose-display").x, panel_place("transpose-display").y, 25));
    release_picture(shown);
}

}  // namespace
