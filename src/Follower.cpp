// Following an outside master: its clocks step the rows, its transport starts,
// stops and places them, and everything it sends is passed on.
#include "Kalverosin4.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int ClocksPerSixteenth = 6;

constexpr long long VanishedAfter = 500000000;  // ns without a clock while running, at least
constexpr long long SlowestClock = 10000000000;  // ns between two clocks of a master at 0.25 BPM
constexpr int LongestStep = 4 * TicksPerBeat;  // a row at RATE 1

// The number of ticks before `ticks` on which a row of that rate steps.
long long steps_before(long long ticks, int rate) { return (ticks + rate - 1) / rate; }

// A row stepped n times, at a cost bounded whatever n: its motion repeats,
// so once a place and direction come again, the rest is that cycle's remainder.
// Returns the value of the last step, 0 for none.
template <class Row>
int step_times(Row& row, long long n)
{
    constexpr int Remembered = 2 * (StepsPerRow + 1);
    std::array<std::pair<int, int>, Remembered> seen;
    int value = 0;
    for (long long i = 0; i < n; ++i) {
        std::pair<int, int> place{row.loopBar.current, row.forward};
        int at = static_cast<int>(std::min<long long>(i, Remembered));
        int before = static_cast<int>(std::find(seen.begin(), seen.begin() + at, place) - seen.begin());
        if (before < at) {
            for (long long left = (n - i) % (i - before); left > 0; --left) value = row.step();
            return value;
        }
        if (i < Remembered) seen[i] = place;
        value = row.step();
    }
    return value;
}

}  // namespace

void MasterClock::heard(long long now)
{
    long long interval = now - lastHeard;
    lastHeard = now;
    if (interval <= 0 || interval > SlowestClock) return;
    std::move(intervals.begin(), intervals.end() - 1, intervals.begin() + 1);
    intervals[0] = interval;
    kept = std::min(kept + 1, Kept);
    std::array<long long, Kept> sorted = intervals;
    std::nth_element(sorted.begin(), sorted.begin() + kept / 2, sorted.begin() + kept);
    median = sorted[kept / 2];
}

// The master's messages are read at the start of the pass, a bounded number
// of them. The clocks read together are played as owed ticks are on the
// internal clock: each row moves to its place and sends only its newest step,
// and nothing while more input waits. Then the odd tick between two clocks is
// played once the time has come.
void Sequencer::follow_master()
{
    long long now = clockNow();
    MasterMessage message;
    int read = 0;
    for (; read < MessagesPerPass && readMaster(message); ++read) {
        if (message.kind != MasterKind::Clock) play_heard_clocks(true);
        hear(message, now);
    }
    bool waiting = read == MessagesPerPass;
    play_heard_clocks(!waiting);
    if (!running() || awaitingClock || waiting) return;
    long long interval = masterClock.interval();
    if (nextClock > 0 && interval > 0 && now >= masterClock.last() + interval / 2) play_up_to(2 * nextClock - 1);
    // A master that stops sending clocks leaves no note sounding; the rows wait where they stand.
    if (!silenced && masterClock.last() != 0 && now - masterClock.last() > std::max(VanishedAfter, 2 * interval)) {
        swing.end_notes();
        send_midi(NoteOff + midiChannel, lastNote, 0x7F);
        silenced = true;
    }
}

// Held back, the rows stay a longest step behind: the pass that empties the
// input then still finds each row's newest step among the ticks it plays.
void Sequencer::play_heard_clocks(bool sending)
{
    if (running()) play_up_to(2 * nextClock - 2 - (sending ? 0 : LongestStep), sending);
}

void Sequencer::hear(const MasterMessage& message, long long now)
{
    switch (message.kind) {
    case MasterKind::Clock: hear_clock(now); return;
    case MasterKind::Start:
        pass_on(message);
        start_from_master();
        return;
    case MasterKind::Continue:
        pass_on(message);
        if (running()) return;
        // Stopped from the panel, the rows went back to no place: they go on where the master does.
        place_rows(playTick + 1);
        cockpit.startstopButton.state = 1;
        awaitingClock = true;
        return;
    case MasterKind::Stop:
        pass_on(message);
        if (running()) stop_from_master();
        return;
    case MasterKind::SongPosition:
        pass_on(message);
        if (!running()) stand_at(message.sixteenths);
        return;
    case MasterKind::ProgramChange:
    case MasterKind::NoteOn: hear_player(*this, message); return;
    }
}

// The clock goes on at once; its tick is played with the others read in the pass.
void Sequencer::hear_clock(long long now)
{
    pass_on({MasterKind::Clock, 0});
    masterClock.heard(now);
    silenced = false;
    if (!running()) return;
    awaitingClock = false;
    ++nextClock;
    swing.clock_heard(nextClock - 1, now, masterClock.interval());
}

// Every tick up to this one in order, so that each row keeps the master's
// place (a pass reads a bounded number of clocks, so this is bounded too); of
// each row only the newest step is sent, and nothing when not sending.
void Sequencer::play_up_to(long long tick, bool sending)
{
    if (tick <= dueTick) return;
    for (long long t = dueTick + 1; t <= tick; ++t) handle_tick(t, sending ? tick : LLONG_MAX);
    dueTick = playTick = tick;
    timerCounter_last = static_cast<int>(tick);
}

// A Start while playing begins the count of clocks anew: steps still waiting
// for a clock of the old count end their notes and start none.
void Sequencer::start_from_master()
{
    swing.end_notes();
    cockpit.startstopButton.state = 1;
    rows_to_start();
}

// As a stop from the panel, but every row keeps its place for a Continue.
void Sequencer::stop_from_master()
{
    cockpit.startstopButton.state = 0;
    all_notes_off();
    remember_panel();
}

// Where every row would stand, and which note the note row would hold, after
// playing the ticks before `ticks` from the start; nothing is sent.
void Sequencer::place_rows(long long ticks)
{
    for (Row_Mode* row : {&upperControllerRow, &lowerControllerRow}) {
        row->ready();
        step_times(*row, steps_before(ticks, row->rate));
    }
    noteRow.ready();
    if (long long steps = steps_before(ticks, noteRow.rate)) nextNote = step_times(noteRow, steps);
    gateRow.ready();
    step_times(gateRow, steps_before(ticks, gateRow.rate));
}

void Sequencer::stand_at(long long sixteenths)
{
    rows_to_start();
    long long ticks = sixteenths * ClocksPerSixteenth * TicksPerClock;
    place_rows(ticks);
    playTick = ticks - 1;
    timerCounter_last = static_cast<int>(playTick);
    dueTick = playTick;
    nextClock = sixteenths * ClocksPerSixteenth;
}

void Sequencer::pass_on(const MasterMessage& message)
{
    if (!clockOut) return;
    switch (message.kind) {
    case MasterKind::Clock: send_realtime(TimingClock); return;
    case MasterKind::Start: send_realtime(ClockStart); return;
    case MasterKind::Continue: send_realtime(ClockContinue); return;
    case MasterKind::Stop: send_realtime(ClockStop); return;
    case MasterKind::SongPosition:
        send_midi(SongPosition, message.sixteenths & 0x7F, message.sixteenths >> 7 & 0x7F);
        return;
    case MasterKind::ProgramChange:
    case MasterKind::NoteOn: return;
    }
}

