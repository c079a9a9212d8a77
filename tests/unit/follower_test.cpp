// The sequencer following a master (follow_clock): fed made-up streams of
// clocks and transport messages at times of the test's choosing, passes run
// every 20 us of that time, each byte noted with the time it left.
#include "headless.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr long long Ms = 1000000, Pass = 20000;  // nanoseconds
using K = MasterKind;

std::vector<std::pair<long long, MasterMessage>> master;  // what the master says when
size_t heard = 0;
long long now = 0;

bool read_master(MasterMessage& message)
{
    if (heard == master.size() || master[heard].first > now) return false;
    message = master[heard++].second;
    return true;
}

class FollowerTest : public SequencerTest {
protected:
    std::vector<long long> byteTimes;
    void SetUp() override
    {
        SequencerTest::SetUp();
        master.clear();
        heard = now = 0;
        s().followClock = true;
        s().readMaster = read_master;
        s().clockNow = [] { return now; };
    }
    void clocks(long long first, long long last, long long interval)
    {
        for (long long t = first; t <= last; t += interval) master.push_back({t, {K::Clock, 0}});
    }
    void run_until(long long until)
    {
        for (; now <= until; now += Pass) {
            tick_pass(0);
            byteTimes.resize(MidiRecorder::bytes.size(), now);
        }
    }
};

// Every row at RATE 64, a step every third tick: on a clock, in the pass that
// reads it, or between two, at their midpoint as the recent clocks foretell it.
TEST_F(FollowerTest, StepsFallOnTheMastersClocksAndMidwayBetweenThem)
{
    struct Master {
        const char* name;
        long long interval, later;  // later: the interval from 2 s on
        long long jitter, late;     // every clock up to jitter late, every eighth one late by late
        long long odd;              // how far an odd tick may fall from its midpoint
    };
    const Master masters[] = {{"steady 120 BPM", 20833333, 20833333, 0, 0, 30000},
                              {"steady 249 BPM", 10038700, 10038700, 0, 0, 30000},
                              {"249 BPM, jittered", 10038700, 10038700, 400000, 0, 500000},
                              {"249 BPM, one clock in 8 late", 10038700, 10038700, 0, 2 * Ms, 500000},
                              {"120 to 140 BPM", 20833333, 17857142, 0, 0, 1 * Ms}};
    for (const Master& m : masters) {
        if (&m != masters) {
            TearDown();
            SetUp();
        }
        s().upperControllerRow.rate = s().lowerControllerRow.rate = s().noteRow.rate = s().gateRow.rate = 3;
        std::vector<long long> at;
        for (long long t = Ms; t < 4000 * Ms; t += t < 2000 * Ms ? m.interval : m.later)
            at.push_back(t + (m.jitter ? std::rand() % m.jitter : 0) + (at.size() % 8 == 7 ? m.late : 0));
        master.push_back({0, {K::Start, 0}});
        for (long long t : at) master.push_back({t, {K::Clock, 0}});
        size_t jump = std::find_if(at.begin(), at.end(), [](long long t) { return t > 2000 * Ms; }) - at.begin();
        run_until(at.back() + Pass);
        std::vector<long long> steps;
        for (size_t i = 0; i < MidiRecorder::bytes.size(); i += 3)
            if (MidiRecorder::bytes[i] >> 4 == 9) steps.push_back(byteTimes[i]);
        ASSERT_EQ(steps.size(), (2 * at.size() + 1) / 3) << m.name;
        for (size_t k = 0, clock = 0; k < steps.size(); clock = 3 * ++k / 2) {
            if (k % 2 == 0) {
                EXPECT_TRUE(steps[k] >= at[clock] && steps[k] < at[clock] + Pass) << m.name << ": step " << k;
            } else if (clock + 1 < at.size() && clock > 5 && (clock > jump + 48 || clock < jump) &&
                       (!m.late || clock % 8 < 5)) {
                EXPECT_NEAR(steps[k], (at[clock] + at[clock + 1]) / 2, m.odd) << m.name << ": step " << k;
                EXPECT_LT(steps[k], at[clock + 1] + Pass) << m.name << ": never after the next clock";
            }
        }
    }
}

// Swung, the step of tick 12 (clock 6) lies at w(12) of the pair: after the
// clock that precedes that moment by its share of the interval, clocks 10 ms apart.
TEST_F(FollowerTest, SwungStepsArePlacedFromTheMastersClocks)
{
    const std::pair<int, long long> cases[] = {{50, 70 * Ms}, {54, 74800000}, {62, 84400000}, {75, 100 * Ms}};
    for (const auto& [percent, swung] : cases) {
        TearDown();
        SetUp();
        s().swing.on = true;
        s().swing.percent = percent;
        master.push_back({0, {K::Start, 0}});
        clocks(10 * Ms, 400 * Ms, 10 * Ms);
        run_until(400 * Ms);
        std::vector<long long> ons;
        for (size_t i = 0; i < MidiRecorder::bytes.size(); i += 3)
            if (MidiRecorder::bytes[i] == 0x90) ons.push_back(byteTimes[i]);
        ASSERT_GE(ons.size(), 4u) << percent;
        const long long want[] = {10 * Ms, swung, 130 * Ms, swung + 120 * Ms};
        for (int k = 0; k < 4; ++k) EXPECT_TRUE(ons[k] >= want[k] && ons[k] < want[k] + Pass) << percent << " %, step " << k;
    }
}

// Clocks before a Start move nothing; Stop keeps the places for Continue; a
// Song Position while stopped puts every row where playing that far would
// have; a master that goes quiet leaves no note sounding. With clock out, all
// the master says goes on ahead of the steps of its tick.
TEST_F(FollowerTest, TheMasterStartsStopsContinuesAndPlacesTheRows)
{
    s().clockOut = true;
    Bytes sweep, f8x5(5, 0xF8);
    for (int channel = 0; channel < 16; ++channel) sweep = sweep + Bytes{0xB0 + channel, 0x7B, 0};
    const Bytes step = {0xB0, 1, 0x40, 0xB0, 1, 0x40, 0x80, 0x24, 0x7F, 0x90, 0x24, 0x40};
    struct Stage {
        const char* what;
        std::vector<std::pair<long long, MasterMessage>> said;  // besides clocks every 10 ms, first to last
        long long first, last;
        Bytes sent;
        int place;  // of the gate row
        bool running;
    };
    const Stage stages[] = {
        {"clocks while stopped", {}, 0, 30, Bytes(4, 0xF8), 0, false},
        {"start, tick 0 at the next clock", {{35 * Ms, {K::Start, 0}}}, 40, 40,
         Bytes{0xFA, 0xF8, 0xB0, 1, 0x40, 0xB0, 1, 0x40, 0x80, 0, 0x7F, 0x90, 0x24, 0x40}, 1, true},
        {"clock 6 plays tick 12", {}, 50, 100, f8x5 + Bytes{0xF8} + step, 2, true},
        {"stop keeps the places", {{105 * Ms, {K::Stop, 0}}, {115 * Ms, {K::Continue, 0}}}, 110, 160,
         Bytes{0xFC} + sweep + Bytes{0xF8, 0xFB} + f8x5, 2, true},
        {"continued, clock 12 plays tick 24", {}, 170, 170, Bytes{0xF8} + step, 3, true},
        {"a song position while stopped, then continued",
         {{175 * Ms, {K::Stop, 0}}, {180 * Ms, {K::SongPosition, 4}}, {185 * Ms, {K::Continue, 0}},
          {195 * Ms, {K::SongPosition, 9}}},
         190, 190, Bytes{0xFC} + sweep + Bytes{0xF2, 4, 0, 0xFB, 0xF8} + step + Bytes{0xF2, 9, 0}, 5, true},
        {"the master vanished", {}, 0, -1, Bytes{0x80, 0x24, 0x7F}, 5, true},
    };
    for (const Stage& stage : stages) {
        master.insert(master.end(), stage.said.begin(), stage.said.end());
        clocks(stage.first * Ms, stage.last * Ms, 10 * Ms);
        std::sort(master.begin() + heard, master.end(), [](auto& a, auto& b) { return a.first < b.first; });
        run_until(stage.last >= 0 ? master.back().first : now + 600 * Ms);
        EXPECT_EQ(MidiRecorder::bytes, stage.sent) << stage.what;
        EXPECT_EQ(s().gateRow.loopBar.current, stage.place) << stage.what;
        EXPECT_EQ(s().running(), stage.running) << stage.what;
        MidiRecorder::clear();
    }
    frame();
    EXPECT_TRUE(shows(skin.button_ut_p, s().cockpit.startstopButton.x, s().cockpit.startstopButton.y))
        << "STARTSTOP shows the transport the master started";
    click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
    master.push_back({now, {K::Continue, 0}});
    run_until(now);
    EXPECT_EQ((std::array{s().upperControllerRow.loopBar.current, s().lowerControllerRow.loopBar.current,
                          s().noteRow.loopBar.current, s().gateRow.loopBar.current}),
              (std::array{5, 5, 5, 5})) << "stopped on the panel, continued where the master goes on";
}

// Clocks read in one pass are played as owed ticks are: every clock goes on,
// each row keeps the master's place and sends only its newest step; while more
// waits than a pass reads, the rows move and send nothing.
TEST_F(FollowerTest, ClocksReadTogetherSendOnlyEachRowsNewestStep)
{
    s().clockOut = true;
    const Bytes cc = {0xB0, 1, 0x40, 0xB0, 1, 0x40}, note = {0x90, 0x24, 0x40};
    const std::tuple<const char*, int, Bytes, int> stages[] = {  // clocks read at once; the gate row loops over 1 to 8
        {"ticks 0 to 22, steps at 0 and 12", 12, Bytes{0xFA} + Bytes(12, 0xF8) + cc + Bytes{0x80, 0, 0x7F} + note, 2},
        {"ticks 24 to 142, read in two passes", 60, Bytes(60, 0xF8) + cc + Bytes{0x80, 0x24, 0x7F} + note, 4},
        {"ticks 144 to 206, a pass's worth: the next sends", 32, Bytes(32, 0xF8) + cc + Bytes{0x80, 0x24, 0x7F} + note, 2}};
    master.push_back({0, {K::Start, 0}});
    for (const auto& [what, clocks, sent, place] : stages) {
        master.insert(master.end(), clocks, {now + Ms, {K::Clock, 0}});
        run_until(now + 2 * Ms);
        EXPECT_EQ(MidiRecorder::bytes, sent) << what;
        EXPECT_EQ(s().gateRow.loopBar.current, place) << what;
        MidiRecorder::clear();
    }
}

// A Song Position, whatever its value, puts a row where stepping it from the
// start would, for rows that wrap, turn and skip.
TEST_F(FollowerTest, ASongPositionPlacesTheRowsAsPlayingThatFarWould)
{
    Row_Gate& g = s().gateRow;
    const std::array<int, 5> settings[] = {{12, 1, 2, 1, 16}, {3, 3, 1, 2, 11}, {6, 5, 0, 4, 13}, {192, 2, 1, 16, 1}};
    for (const auto& [rate, width, direction, start, end] : settings)
        for (int sixteenths : {0, 1, 7, 1000, 16383}) {
            std::tie(g.rate, g.stepFader.value, g.directFader.value, g.loopBar.start, g.loopBar.end) =
                std::tie(rate, width, direction, start, end);
            Row_Gate played = g;
            played.ready();
            for (long long k = 0; k < (12LL * sixteenths + rate - 1) / rate; ++k) played.step();
            master.push_back({now, {K::SongPosition, sixteenths}});
            run_until(now);
            EXPECT_EQ(std::pair(g.loopBar.current, g.forward), std::pair(played.loopBar.current, played.forward))
                << "rate " << rate << ", " << sixteenths << " sixteenths";
        }
}

}  // namespace
