#include "Swing.h"

#include "Kalverosin4.h"

#include "SteadyTimer.h"

#include <algorithm>

namespace {

constexpr int Straight = 50;
constexpr int Half = SwingPairTicks / 2;
constexpr int HundredthsPerClock = 200;  // a clock is two ticks
constexpr long long NanosPerSecond = 1000000000;
constexpr int SwingFaderId = 8200;
constexpr int SwingDisId = 8201;
constexpr int FaderBed = 120;
constexpr int Lowest = 50;
constexpr int Highest = 75;

long long nanoseconds_up(long long units) { return (units * NanosPerSecond + TIMERS_PER_SECOND - 1) / TIMERS_PER_SECOND; }

}  // namespace

long long swing_warp(int u, int percent)
{
    if (u <= Half) return 2LL * u * percent;
    return static_cast<long long>(SwingPairTicks) * percent + 2LL * (u - Half) * (100 - percent);
}

long long swing_delay_units(int u, int percent, long long period)
{
    return (swing_warp(u, percent) * period + 99) / 100 - u * period;
}

Swing::Swing() = default;
Swing::~Swing() = default;

// A change of the fader counts from the next pair on; without swing every pair is straight.
void Swing::latch(long long t)
{
    if (t / SwingPairTicks == pair && t % SwingPairTicks != 0) return;
    pair = t / SwingPairTicks;
    latched = on ? percent : Straight;
}

void Swing::at_tick(long long t, long long straight, long long period)
{
    latch(t);
    long long units = swing_delay_units(static_cast<int>(t % SwingPairTicks), latched, period);
    due = units == 0 ? 0 : straight + nanoseconds_up(units);
    waitClock = -1;
}

// Tick 2n falls on clock n; the swung moment lies after the clock that
// precedes it, by its share of the clocks' interval.
void Swing::at_followed_tick(long long t, long long heard, long long last, long long interval)
{
    latch(t);
    int u = static_cast<int>(t % SwingPairTicks);
    long long warp = swing_warp(u, latched);
    due = 0;
    waitClock = -1;
    if (warp == 100LL * u) return;
    long long clock = (t - u) / 2 + warp / HundredthsPerClock;
    waitAfter = warp % HundredthsPerClock;
    if (clock > heard) {
        waitClock = clock;
        return;
    }
    due = clock == heard ? last + waitAfter * std::max(interval, 0LL) / HundredthsPerClock : last;
}

void Swing::clock_heard(long long n, long long now, long long interval)
{
    for (int i = 0; i < count; ++i) {
        Held& h = held[(first + i) % Room];
        if (h.due >= 0 || h.clock > n) continue;
        h.due = std::max(now + h.after * std::max(interval, 0LL) / HundredthsPerClock, lastDue);
        lastDue = h.due;
    }
}

void Swing::send(int status, int data1, int data2)
{
    if (due == 0 && waitClock < 0 && count == 0) return send_midi(status, data1, data2);
    if (count == Room) send_first();
    Held& h = held[(first + count++) % Room];
    h.clock = waitClock;
    h.after = waitAfter;
    h.due = waitClock >= 0 ? -1 : std::max(due, lastDue);
    if (h.due >= 0) lastDue = h.due;
    h.bytes[0] = static_cast<unsigned char>(status);
    h.bytes[1] = static_cast<unsigned char>(data1);
    h.bytes[2] = static_cast<unsigned char>(data2);
}

void Swing::send_first()
{
    const Held& h = held[first];
    send_midi(h.bytes[0], h.bytes[1], h.bytes[2]);
    first = (first + 1) % Room;
    --count;
}

void Swing::send_due(long long now)
{
    while (count > 0 && held[first].due >= 0 && held[first].due <= now) send_first();
}

void Swing::end_notes()
{
    for (; count > 0; --count, first = (first + 1) % Room)
        if ((held[first].bytes[0] & 0xF0) == NoteOff) send_midi(held[first].bytes[0], held[first].bytes[1], held[first].bytes[2]);
}

long long Swing::next_due() const { return count > 0 ? held[first].due : -1; }

void Swing::draw_first(Sequencer& s)
{
    if (!on) return;
    PanelPlace place = panel_place("swing");
    fader = std::make_unique<Fader>(SwingFaderId, s.skin, place.x, place.y, FaderBed, Lowest, Highest, percent,
                                    Highest - Lowest + 1);
    PanelPlace label = panel_place("swing-label");
    s.schirm.put(Txt(s.skin, label.x, label.y, "SWING", 0).draw());
    s.schirm.put(fader->draw(0));
    shown = -1;
    refresh(s);
}

void Swing::refresh(Sequencer& s)
{
    if (!fader) return;
    s.schirm.put(fader->refresh());
    percent = fader->value;
    if (shown == percent) return;
    shown = percent;
    PanelPlace place = panel_place("swing-display");
    s.schirm.put(Dis3(SwingDisId, s.skin, place.x, place.y, shown).draw(0));
}

// The tick's straight moment is the timer's deadline for it; where the timer
// cannot tell (another thread is taking a tick, or it is not the steady one), now.
void Sequencer::place_swung(long long t, long long newest)
{
    if (followClock) return swing.at_followed_tick(t, nextClock - 1, masterClock.last(), masterClock.interval());
    long long period = tick_period(cockpit.speedDis.value);
    if (!swing.on) return swing.at_tick(t, 0, period);
    long long periodNanos = nanoseconds_up(period);
    long long next = next_own_deadline(timerCounter_Updater);
    bool known = next >= 0 && static_cast<unsigned>(timerCounter.load()) == static_cast<unsigned>(timerCounter_last);
    long long newestAt = known ? next - periodNanos : clockNow();
    swing.at_tick(t, newestAt - (newest - t) * periodNanos, period);
}
