// Following an outside master: its clocks step the rows, its transport starts,
// stops and places them, and everything it sends is passed on.
#include "Kalverosin4.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int TicksPerBeat = 48;
constexpr int NoteOff = 0x80;
constexpr int TimingClock = 0xF8;
constexpr int ClockStart = 0xFA;
constexpr int ClockContinue = 0xFB;
constexpr int ClockStop = 0xFC;
constexpr int SongPosition = 0xF2;
constexpr int TicksPerClock = TicksPerBeat / 24;
constexpr int ClocksPerSixteenth = 6;

constexpr long long VanishedAfter = 500000000;  // ns without a clock while running

}  // namespace

void MasterClock::heard(long long now)
{
    long long interval = now - lastHeard;
    lastHeard = now;
    if (interval <= 0 || interval > VanishedAfter) return;
    std::move(intervals.begin(), intervals.end() - 1, intervals.begin() + 1);
    intervals[0] = interval;
    kept = std::min(kept + 1, Kept);
    std::array<long long, Kept> sorted = intervals;
    std::nth_element(sorted.begin(), sorted.begin() + kept / 2, sorted.begin() + kept);
    median = sorted[kept / 2];
}

// Every message of the master is read at the start of the pass; then the odd
// tick between two clocks is played once the time has come.
void Sequencer::follow_master()
{
    long long now = clockNow();
    MasterMessage message;
    while (readMaster(message)) hear(message, now);
    if (!running() || awaitingClock) return;
    long long interval = masterClock.interval();
    if (nextClock > 0 && interval > 0 && now >= masterClock.last() + interval / 2) play_up_to(2 * nextClock - 1);
    // A master that stops sending clocks leaves no note sounding; the rows wait where they stand.
    if (!silenced && masterClock.last() != 0 && now - masterClock.last() > VanishedAfter) {
        send_midi(NoteOff + midiChannel, lastNote, 0x7F);
        silenced = true;
    }
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
    }
}

// The clock goes on first; then an odd tick not played yet, and the clock's own.
void Sequencer::hear_clock(long long now)
{
    pass_on({MasterKind::Clock, 0});
    masterClock.heard(now);
    silenced = false;
    if (!running()) return;
    awaitingClock = false;
    play_up_to(2 * nextClock);
    ++nextClock;
}

void Sequencer::play_up_to(long long tick)
{
    if (tick <= dueTick) return;
    dueTick = tick;
    handle_ticks(static_cast<int>(dueTick));
}

void Sequencer::start_from_master()
{
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
// playing that far from the start; nothing is sent.
void Sequencer::stand_at(long long sixteenths)
{
    rows_to_start();
    long long ticks = sixteenths * ClocksPerSixteenth * TicksPerClock;
    for (long long t = 0; t < ticks; ++t) handle_tick(t, LLONG_MAX);
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
    }
}

