// The program's timers: a timer driver of its own in place of Allegro's, on
// which the main loop sees a due tick itself. Allegro's own timer remains the
// fallback.
#pragma once

#include <allegro.h>

#include <atomic>
#include <cstdint>

// The clock every timer of the program counts on.
long long monotonic_nanoseconds();

// Puts the steady timer first in Allegro's list; call after the system is
// installed and before install_timer().
void register_steady_timer();
// True when install_timer() chose the steady timer.
bool steady_timer_selected();

// Marks a callback of the program's own (call before installing it): the main
// loop runs it itself, through poll_steady_timer(), as soon as its deadline has
// passed; the real-time timer thread runs it only when the main loop has not,
// half a millisecond later. Every other callback, the pointer's among them,
// runs on an ordinary thread, so nothing of the library can hold back a tick.
// After a stall only the last mostOwed of the calls owed are made.
void run_on_main_loop(void (*proc)(), std::uint64_t mostOwed = UINT64_MAX);

// Runs every callback of the program's own whose deadline has passed, on the
// calling thread, each owed call in turn. Takes no lock; does nothing unless
// the steady timer runs.
void poll_steady_timer();

// When a callback of the program's own is next due, in monotonic nanoseconds;
// -1 while it is not installed, the steady timer is not in use, or another
// thread is running it just now (ask again at the next pass).
long long next_own_deadline(void (*proc)());

// A periodic callback's next deadline and its period, in timer units, kept in
// one word: a claim and a change of period never cross, and each deadline is
// claimed by exactly one thread, whichever gets there first. However long no
// thread looked (a process stopped for weeks), a deadline reads right.
class Deadline {
public:
    // Longer periods are not taken (install_int_ex fails).
    static constexpr std::uint64_t LongestPeriod = (std::uint64_t{1} << 24) - 1;

    // The first deadline one period after now; nothing is due before start().
    void start(std::uint64_t now, std::uint64_t period);
    void stop() { word.store(0); }
    bool running() const { return word.load() != 0; }
    // As Allegro does for a callback installed again: the next deadline after
    // now moves by the difference of the periods, so the counting goes on at
    // the new rate. False, changing nothing, while a passed deadline is still
    // owed: those belong to the old period, and are to be claimed first.
    bool change_period(std::uint64_t now, std::uint64_t period);
    bool passed(std::uint64_t now) const;
    // Takes the earliest deadline that has passed by now, for the caller alone;
    // false if none has, or another thread took it first. Of more than mostOwed
    // passed deadlines, all but the last mostOwed are skipped.
    bool claim(std::uint64_t now, std::uint64_t mostOwed = UINT64_MAX);
    // The next deadline, in the same units as now (meaningful while running).
    std::uint64_t next(std::uint64_t now) const;

private:
    std::atomic<std::uint64_t> word{0};
    std::atomic<std::uint64_t> written{0};  // the full deadline last written
    std::uint64_t deadline_of(std::uint64_t w) const;
    bool replace(std::uint64_t w, std::uint64_t deadline, std::uint64_t period);
};

