#include "Resting.h"

#include "Kalverosin4.h"
#include "MasterInput.h"
#include "SteadyTimer.h"

#include <poll.h>

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

constexpr long long NanosPerSecond = 1000000000;
// What a sleeping thread may wake late on a loaded machine, with room to spare.
constexpr long long WakeAhead = 2000000;
constexpr int MostDescriptors = 8;

timespec at(long long nanoseconds)
{
    return {static_cast<time_t>(nanoseconds / NanosPerSecond), nanoseconds % NanosPerSecond};
}

long long nanoseconds_in(long long units)
{
    return units / TIMERS_PER_SECOND * NanosPerSecond + units % TIMERS_PER_SECOND * NanosPerSecond / TIMERS_PER_SECOND;
}

// A FIFO whose writer has gone reports its hang-up at once and for ever: no
// reason to wake.
bool only_hung_up(const pollfd* fds, int count)
{
    return std::none_of(fds, fds + count, [](const pollfd& fd) { return fd.revents & POLLIN; });
}

}  // namespace

void rest_until(long long until, bool wakeOnMaster)
{
    pollfd fds[MostDescriptors];
    int count = wakeOnMaster ? master_input_descriptors(fds, MostDescriptors) : 0;
    long long left = until - monotonic_nanoseconds();
    if (count < 0 || left <= 0) return;
    if (count > 0) {
        timespec span = at(left);
        int ready = ppoll(fds, static_cast<nfds_t>(count), &span, nullptr);
        if (ready != 0 && (ready < 0 || !only_hung_up(fds, count))) return;
    }
    timespec when = at(until);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
}

// Playing follows a master's clock or every deadline as today, unless
// save_power lets the loop sleep until shortly before a tick that sends.
void Sequencer::rest_until_due()
{
    bool playing = running();
    if (playing && (followClock || !savePower)) return;
    long long until = next_own_deadline(FrameTimerUpdater);
    if (playing) {
        long long sends = next_byte_deadline();
        until = sends < 0 ? -1 : std::min(until, sends - WakeAhead);
    }
    if (until >= 0) rest_until(until, followClock || patterns.on || transpose.on);
}

// When the next tick that sends a byte is due (monotonic nanoseconds); -1 when
// that cannot be known now, 0 when a tick is owed already.
long long Sequencer::next_byte_deadline()
{
    int counted = timerCounter.load();
    long long next = next_own_deadline(timerCounter_Updater);
    if (next < 0 || timerCounter.load() != counted) return -1;
    if (static_cast<unsigned>(counted) != static_cast<unsigned>(timerCounter_last)) return 0;
    long long from = playTick + 1;  // the tick the counter's next count plays
    long long sending = LLONG_MAX;
    for (int rate : {upperControllerRow.rate, lowerControllerRow.rate, gateRow.rate, clockOut ? TicksPerClock : 0})
        if (rate > 0) sending = std::min(sending, (from + rate - 1) / rate * rate);
    long long ticked = next + nanoseconds_in((sending - from) * tick_period(cockpit.speedDis.value));
    long long swung = swing.next_due();
    return swung < 0 ? ticked : std::min(ticked, swung);
}
