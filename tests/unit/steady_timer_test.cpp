// The steady timer: each deadline is taken exactly once, by the main loop or
// the thread behind it, and right after any stop; the library's callbacks never
// run at real-time priority. Its drift is measured in bench/timing.sh.
#include "SteadyTimer.h"
#include "headless.h"

#include <allegro/platform/aintunix.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// The headless system has no mutexes for the timer; Allegro's Unix ones serve.
void install_steady_timer()
{
    start_headless_allegro();
    system_driver->create_mutex = _unix_create_mutex;
    system_driver->destroy_mutex = _unix_destroy_mutex;
    system_driver->lock_mutex = _unix_lock_mutex;
    system_driver->unlock_mutex = _unix_unlock_mutex;
    register_steady_timer();
    install_timer();
}

// Two threads race for every deadline of a clock that a third moves on, the
// period changing now and then: each deadline is taken once, those owed at a
// change at the old period, and the next one moves by the difference.
TEST(SteadyTimer, EachDeadlineIsTakenByOneThreadOnly)
{
    Deadline deadline;
    std::atomic<std::uint64_t> now{0};
    std::atomic<long> taken{0};
    deadline.start(0, 100);
    auto take = [&] {
        while (now.load() < 1000000)
            if (deadline.claim(now.load())) taken.fetch_add(1);
    };
    std::thread a(take), b(take);
    std::uint64_t expected = 0, due = 100, period = 100;
    for (std::uint64_t t = 1; t <= 1000000; t += 7) {
        if (t % 70000 < 7) {
            std::uint64_t changed = (period == 100 ? 37 : 100);
            while (!deadline.change_period(now.load(), changed))
                if (deadline.claim(now.load())) taken.fetch_add(1);
            due += changed - period;
            period = changed;
        }
        now.store(t);
        for (; due <= t; due += period) ++expected;
    }
    a.join();
    b.join();
    while (deadline.claim(now.load())) taken.fetch_add(1);
    EXPECT_EQ(taken.load(), static_cast<long>(expected));
    EXPECT_EQ(deadline.next(now.load()), due);
}

// A process stopped for longer than the deadline's 40 bits count (10 days), a
// week, years: at once only the newest deadlines owed are called for.
TEST(SteadyTimer, AfterAnyStopOnlyTheNewestDeadlinesAreOwed)
{
    for (std::uint64_t gap : {(1ull << 39) + 1, (1ull << 40) + 50, 1ull << 45})
        for (std::uint64_t mostOwed : {1, 48}) {
            Deadline deadline;
            deadline.start(1000, 12428);
            std::uint64_t now = 1000 + gap, taken = 0;
            while (deadline.claim(now, mostOwed)) ++taken;
            EXPECT_EQ(taken, mostOwed) << gap;
            EXPECT_EQ((deadline.next(now) - now - 1) / 12428, 0u) << "the next one within a period";
        }
}

// A callback that takes its time at its first call, and notes where it ran;
// of kind 2, it removes itself instead.
template <int Kind>
struct Slow {
    static inline std::atomic<int> calls{0}, finished{0}, policy{-1};
    static inline pthread_t thread;
    static void run()
    {
        if (Kind == 2) remove_int(run);
        if (calls++ == 0 && Kind != 2) {
            policy = sched_getscheduler(0);
            thread = pthread_self();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        finished = 1;
    }
};

// A callback of the program's own (0) and one of the library's (1), as
// show_mouse installs the pointer's redraw: the library's never runs at
// real-time priority (nor on the thread that may have it), and once remove_int
// returns, neither is running. One of the program's own that removes itself
// (2) is not waited for by itself, and not called again; a period too long for
// a deadline is refused.
TEST(SteadyTimer, TheLibrarysCallbacksRunAtOrdinaryPriorityAndRemovalWaitsForARunningOne)
{
    install_steady_timer();
    using Own = Slow<0>;
    using Library = Slow<1>;
    using Removing = Slow<2>;
    run_on_main_loop(Own::run);
    run_on_main_loop(Removing::run);
    EXPECT_LT(install_int_ex(Removing::run, Deadline::LongestPeriod + 1), 0);
    for (auto run : {Own::run, Library::run, Removing::run}) install_int(run, 1);
    for (int waited = 0; (Own::calls == 0 || Library::calls == 0) && waited < 5000; waited += 1) rest(1);
    remove_int(Own::run);
    EXPECT_EQ(Own::finished, 1);
    remove_int(Library::run);
    EXPECT_EQ(Library::finished, 1);
    EXPECT_TRUE(Own::policy != SCHED_FIFO || Library::policy == SCHED_OTHER) << "at real-time priority";
    EXPECT_FALSE(pthread_equal(Own::thread, Library::thread)) << "on the real-time thread";
    for (int waited = 0; waited < 20 || (Removing::calls == 0 && waited < 5000); waited += 1) rest(1);
    EXPECT_EQ(Removing::calls, 1);
}

pthread_t loopThread;
std::atomic<int> takenByTheLoop{0};
void count_the_loops_claims() { takenByTheLoop += pthread_equal(pthread_self(), loopThread) != 0; }

// A main loop that is free takes its own deadlines itself; the thread behind
// it, later by design, only stands by.
TEST_F(SequencerTest, TheMainLoopTakesItsOwnDeadlinesWhenFree)
{
    install_steady_timer();
    loopThread = pthread_self();
    run_on_main_loop(count_the_loops_claims);
    install_int_ex(count_the_loops_claims, TIMERS_PER_SECOND / 1000);
    for (long passes = 0; takenByTheLoop < 10 && passes < 100000000; ++passes) s().pass();  // seconds of passes
    remove_timer();
    EXPECT_GE(takenByTheLoop, 10);
}

}  // namespace
