// Sixteen patterns chosen on the strip and by Program Change, switched on the
// bar line; the note row transposed from a keyboard.
#include "headless.h"

#include <deque>
#include <random>
#include <set>

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

}  // namespace
