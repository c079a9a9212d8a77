// Sixteen patterns chosen on the strip and by Program Change, switched on the
// bar line; the note row transposed from a keyboard.
#include "headless.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <random>

namespace {

constexpr long long Ms = 1000000;
std::deque<MasterMessage> fed;  // what the input gives in the next pass
long long fedNow = 0;

bool read_fed(MasterMessage& m)
{
    if (fed.empty()) return false;
    m = fed.front();
    fed.pop_front();
    return true;
}

MasterMessage program_change(int program, int channel = 0) { return {MasterKind::ProgramChange, 0, channel, program}; }

// The first step of a pattern: every row at the start of its loop.
Bytes first_step(const Pattern& p, int noteBefore)
{
    auto first = [](const RowPattern& r) {
        int at = r.direct == 0 ? std::max(r.loopStart, r.loopEnd) : std::min(r.loopStart, r.loopEnd);
        return r.values[2 - r.lines[at - 1]];
    };
    Bytes bytes;
    for (int r : {0, 1})
        if (p.rows[r].controller) bytes = bytes + Bytes{0xB0, p.rows[r].controller, first(p.rows[r])};
    return bytes + Bytes{0x80, noteBefore, 0x7F, 0x90, first(p.rows[2]), first(p.rows[3])};
}

class PatternsTest : public SequencerTest {
protected:
    Pattern usual;
    void SetUp() override
    {
        SequencerTest::SetUp();
        fed.clear();
        fedNow = 1000 * Ms;
        s().readMaster = read_fed;
        s().clockNow = [] { return fedNow; };
        s().patterns.on = true;
        usual = pattern_of_rows(s());
        for (int k = 0; k < 4; ++k) s().patterns.bank.patterns[k] = made(k);
        put_in_rows(s(), made(0));
        s().draw_first_picture();
    }
    // Pattern k: its upper row's loop starts at step k + 1; the first step of each row selects line 1.
    Pattern made(int k)
    {
        Pattern p = usual;
        p.rows[0].loopStart = k + 1;
        p.rows[0].loopEnd = k + 5;
        p.rows[0].lines[k] = 2;
        p.rows[0].values = {20 + k, 40 + k, 60 + k};
        p.rows[1].controller = 2;
        p.rows[1].values = {k, k, k};
        p.rows[2].values = {36 + k, 0, 50 + k};
        p.rows[3].values = {100, 0, 64};
        p.rows[2].lines[0] = p.rows[3].lines[0] = 2;
        p.rows[2].loopEnd = p.rows[3].loopEnd = 6;  // a loop of six steps stands elsewhere at the bar line
        return p;
    }
    // n from 16 on: a Program Change for pattern n % 16 + 1 on channel n / 16 - 1, read in the next pass.
    void choose(int n)
    {
        if (n >= 16) return fed.push_back(program_change(n % 16, n / 16 - 1));
        PanelPlace cell = panel_place("pattern-" + std::to_string(n + 1));
        click(cell.x + 7, cell.y + 7);
    }
    // The bytes of tick t; a follower's master sends a clock for every even tick, the odd ones fall between.
    Bytes play(long long t)
    {
        size_t before = MidiRecorder::bytes.size();
        fedNow += 10 * Ms;
        if (s().followClock && t % 2 == 0) fed.push_back({MasterKind::Clock, 0});
        tick_pass(static_cast<int>(t));
        return Bytes(MidiRecorder::bytes.begin() + before, MidiRecorder::bytes.end());
    }
    // The last tick played: 0 on the own clock; a master stands at tick 95 (bar 1, beat 3),
    // and its bar lines are counted from its own start.
    long long start(bool following)
    {
        s().followClock = following;
        if (!following) click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        if (following) fed.insert(fed.end(), {{MasterKind::SongPosition, 8}, {MasterKind::Continue, 0}});
        return following ? 95 : 0;
    }
};

TEST_F(PatternsTest, AChoiceComesWithTheFirstStepOfItsPatternAtItsBarLine)
{
    struct Case {
        const char* name;
        bool following;
        std::vector<std::pair<long long, int>> choices;  // after that tick (-1: stopped), pattern n (16 + n: by Program Change)
        long long at;  // the tick where it comes, -1: never
        int to, sounds;
    };
    const Case cases[] = {
        {"stopped", false, {{-1, 1}}, 0, 1, 1},
        {"playing", false, {{100, 2}}, 192, 2, 2},
        {"a later choice", false, {{50, 1}, {120, 3}}, 192, 3, 3},
        {"taken back", false, {{50, 1}, {120, 0}}, -1, 0, 0},
        {"an empty pattern", false, {{100, 9}}, 192, 9, 0},
        {"Program Change before tick 191", false, {{190, 17}}, 192, 1, 1},
        {"Program Change after tick 191", false, {{191, 17}}, 384, 1, 1},
        {"Program Change on channel 2", false, {{50, 33}}, -1, 0, 0},
        {"following", true, {{150, 18}}, 192, 2, 2},
        {"following, after tick 191", true, {{191, 3}}, 384, 3, 3},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        for (auto [after, n] : c.choices)
            if (after < 0) choose(n);
        MidiRecorder::clear();
        long long t = start(c.following);
        for (Bytes tick = MidiRecorder::bytes; t <= 400; tick = play(++t)) {
            ASSERT_EQ(s().patterns.bank.playing, t < c.at || c.at < 0 ? 0 : c.to) << c.name << " at tick " << t;
            if (t == c.at) {
                EXPECT_EQ(tick, first_step(made(c.sounds), c.at ? 50 : 0)) << c.name;
            }
            for (auto [after, n] : c.choices)
                if (after == t) choose(n);
        }
    }
}

// Sixteen random patterns, switches chosen at random by click and by Program Change, half on the
// own clock, half following a master, MIDI clock out: every new pattern's first step at exactly its bar
// line, every Note Off for the pitch that sounds, a clock at every second tick and no other.
TEST_F(PatternsTest, AThousandRandomSwitchesComeOnTheirBarLines)
{
    std::mt19937 random(29);
    auto any = [&](int low, int high) { return low + static_cast<int>(random() % (high - low + 1)); };
    for (Pattern& p : s().patterns.bank.patterns) {
        for (RowPattern& r : p.rows) {
            r = {any(0, 6), any(1, 16), any(0, 2), any(1, 16), any(1, 15), {}, any(0, 3), {any(0, 119), any(0, 119), any(0, 119)}};
            r.loopEnd += r.loopEnd >= r.loopStart;
            for (int& line : r.lines) line = any(0, 2);
        }
        p.used = true;
    }
    put_in_rows(s(), s().patterns.bank.patterns[0]);
    s().clockOut = true;
    int switches = 0, sounding = 0, playing = 0, coming = 0;
    for (bool following : {false, true}) {
        if (following) click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        MidiRecorder::clear();
        long long t = start(following), due = -1;
        for (Bytes tick = MidiRecorder::bytes; switches < (following ? 1000 : 500); tick = play(++t)) {
            Bytes steps;
            std::copy_if(tick.begin(), tick.end(), std::back_inserter(steps), [](int b) { return b < 0xF8; });
            EXPECT_EQ(std::count(tick.begin(), tick.end(), 0xF8), t % 2 == 0) << t;
            if (t == due) {
                ASSERT_EQ(steps, first_step(s().patterns.bank.patterns[coming], sounding)) << switches << " at " << t;
                ++switches, due = -1, playing = coming;
            }
            ASSERT_EQ(s().patterns.bank.playing, playing) << t;
            for (size_t i = 0; i + 2 < steps.size(); i += 3) {
                if (steps[i] == 0x80) {
                    EXPECT_EQ(steps[i + 1], sounding) << t;
                }
                if (steps[i] == 0x90) sounding = steps[i + 1];
            }
            if (due >= 0 || random() % 100) continue;
            int n = any(0, 15);
            choose(any(0, 1) ? n : 16 + n);
            if (n != playing) coming = n, due = (t + 2 + BarTicks - 1) / BarTicks * BarTicks;
        }
    }
}

// A key latches the transposition from the next Note On, moved by octaves into range; every Note Off
// is for the pitch sent, and the display shows the key.
TEST_F(PatternsTest, AKeyTransposesTheNoteRowFromItsNextNoteOn)
{
    struct Key { int listened, channel, key, velocity, note, sent; };
    const Key keys[] = {{-1, 0, 60, 100, 36, 36}, {-1, 0, 67, 100, 36, 43},  {-1, 0, 72, 0, 36, 43},
                        {-1, 1, 50, 100, 36, 43}, {-1, 0, 0, 100, 36, 0},    {-1, 0, 10, 9, 36, 10},
                        {-1, 0, 127, 1, 36, 103}, {-1, 0, 127, 1, 119, 126}, {1, 1, 62, 100, 36, 38},
                        {1, 0, 70, 100, 36, 38}};
    s().transpose.on = true;
    s().draw_first_picture();
    start(false);
    long long t = 0;
    int before = 36;
    for (const Key& k : keys) {
        s().transpose.channel = k.listened;
        Pattern p = usual;
        p.rows[2].values.fill(k.note);
        put_in_rows(s(), p);
        fed.push_back({MasterKind::NoteOn, 0, k.channel, k.key, k.velocity});
        while (++t % 12) play(t);
        Bytes step = play(t);
        EXPECT_EQ(Bytes(step.end() - 6, step.end()), (Bytes{0x80, before, 0x7F, 0x90, k.sent, 64})) << k.key;
        before = k.sent;
    }
    frame();
    blitz_struct shown = Dis3(0, skin, 0, 0, 62).draw(0);
    EXPECT_TRUE(shows(shown.bitmap, panel_place("transpose-display").x, panel_place("transpose-display").y, 25));
    release_picture(shown.bitmap);
}

}  // namespace
