// Swing (swing on): every row's steps moved on one shuffle grid of pairs of
// sixteenths (24 ticks) counted from tick 0 of the transport. A moment u ticks
// into its pair is played at w(u), which moves the second sixteenth to S % of
// the pair and never moves anything earlier. The rows' bytes wait here for
// their moment; the clock out never does.
#pragma once

#include <array>
#include <memory>

class Fader;
class Sequencer;

inline constexpr int SwingPairTicks = 24;

// w(u) in hundredths of a tick, for 0 <= u <= 24 and S the swing in %.
long long swing_warp(int u, int percent);
// How much later than its straight moment a tick u into its pair is played,
// in timer units rounded up, for ticks of `period` timer units.
long long swing_delay_units(int u, int percent, long long period);

class Swing {
public:
    bool on = false;   // swing = yes

    Swing();
    ~Swing();
    int percent = 50;  // as the fader shows it; a pair takes it when it begins

    // At every tick before the rows step: from when on the tick's bytes are due.
    // Own clock: `straight` is the tick's moment (monotonic nanoseconds).
    void at_tick(long long t, long long straight, long long period);
    // Following: the tick's moment comes from the master's clocks; `heard` is
    // the number of the latest clock heard, at `last`, `interval` apart.
    void at_followed_tick(long long t, long long heard, long long last, long long interval);
    // A master's clock n was heard now: the bytes that waited for it get their moment.
    void clock_heard(long long n, long long now, long long interval);
    // A row's message for the tick at hand: sent now, or kept for its moment.
    void send(int status, int data1, int data2);
    // Sends every message whose moment has come, in order.
    void send_due(long long now);
    // The moment of the first message waiting; -1 when none has one.
    long long next_due() const;
    // At a stop, EXIT or a channel change, before the sweep.
    void drop() { first = count = 0; }
    // When a master vanishes or starts again: every Note Off waiting goes out now, nothing else does.
    void end_notes();
    int waiting() const { return count; }

    std::unique_ptr<Fader> fader;  // made with the first picture, where swing is on
    void draw_first(Sequencer& s);
    void refresh(Sequencer& s);

private:
    static constexpr int Room = 64;  // 4 messages a tick, at most 6 ticks late, with room for a stall
    struct Held {
        long long due;    // monotonic nanoseconds; -1 while it waits for clock `clock`
        long long clock;  // following: the master's clock it is placed after
        long long after;  // following: hundredths of a tick after that clock
        unsigned char bytes[3];
    };
    std::array<Held, Room> held{};
    int first = 0;
    int count = 0;
    long long pair = -1;
    int latched = 50;
    long long due = 0;          // the moment of the tick at hand's bytes; 0: at once
    long long waitClock = -1;   // following: the clock they wait for; -1: none
    long long waitAfter = 0;
    long long lastDue = 0;
    int shown = -1;
    void latch(long long t);
    void send_first();
};
