// The steady timer: each deadline is taken exactly once, by the main loop or
// the thread behind it; on the real clock it keeps the programmed period where
// Allegro's own thread runs a few hundred ppm slow; the library's callbacks
// never run at real-time priority.
#include "SteadyTimer.h"
#include "headless.h"

#include <allegro/platform/aintunix.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr int Period = 12428;  // one tick at 120 BPM, in timer units
constexpr int Stamps = 1000;   // about ten seconds
long long stamps[Stamps];
std::atomic<int> ticks{0};

void stamp()
{
    int i = ticks.load();
    if (i < Stamps) stamps[i] = std::chrono::steady_clock::now().time_since_epoch().count();
    ticks.store(i + 1);
}

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

bool ticked(int n)
{
    for (int waited = 0; ticks.load() < n && waited < 60000; waited += 5) rest(5);
    return ticks.load() >= n;
}

// The earliest tick of each third lies on the clock's own line, however late
// the others came: the slope between the first and last third's is the period.
double drift_ppm()
{
    const double nominal = Period * 1e9 / TIMERS_PER_SECOND;
    auto earliest = [&](int from, int to) {
        double best = 1e300;
        for (int i = from; i < to; ++i) best = std::min(best, stamps[i] - stamps[0] - i * nominal);
        return best;
    };
    int third = Stamps / 3;
    return (earliest(2 * third, Stamps) - earliest(1, third)) / (2.0 * third * nominal) * 1e6;
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
    constexpr std::uint64_t P = 12428, Gaps[] = {(1ull << 39) + 1, (1ull << 40) + 50, 1ull << 45};
    for (std::uint64_t gap : Gaps)
        for (std::uint64_t mostOwed : {1, 48}) {
            Deadline deadline;
            deadline.start(1000, P);
            std::uint64_t now = 1000 + gap, taken = 0;
            while (deadline.claim(now, mostOwed)) ++taken;
            EXPECT_EQ(taken, mostOwed) << gap;
            EXPECT_GT(deadline.next(now), now);
            EXPECT_LE(deadline.next(now), now + P);
        }
}

TEST(SteadyTimer, KeepsTheProgrammedPeriodOverTenSeconds)
{
    install_steady_timer();
    ASSERT_TRUE(steady_timer_selected());
    run_on_main_loop(stamp);  // taken by the thread behind the main loop: no one polls here
    install_int_ex(stamp, 100 * Period);  // then re-timed at once, as SPEED re-times the ticks
    install_int_ex(stamp, Period);
    std::clock_t cpu = std::clock();
    bool done = ticked(Stamps);
    double seconds_on_cpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    remove_timer();
    ASSERT_TRUE(done);
    EXPECT_LT(std::fabs(drift_ppm()), 50.0) << "Allegro's own timer thread drifts 190 ppm and more";
    EXPECT_LT(seconds_on_cpu, 2.0) << "in ten seconds: the timer thread sleeps between its deadlines";
}

// A callback that takes its time at its first call, and notes where it ran.
template <int Kind>
struct Slow {
    static inline std::atomic<int> calls{0}, finished{0}, policy{-1};
    static inline pthread_t thread;
    static void run()
    {
        if (calls++ == 0) {
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
// returns, neither is running.
TEST(SteadyTimer, TheLibrarysCallbacksRunAtOrdinaryPriorityAndRemovalWaitsForARunningOne)
{
    install_steady_timer();
    using Own = Slow<0>;
    using Library = Slow<1>;
    run_on_main_loop(Own::run);
    install_int(Own::run, 1);
    install_int(Library::run, 1);
    for (int waited = 0; (Own::calls == 0 || Library::calls == 0) && waited < 5000; waited += 1) rest(1);
    remove_int(Own::run);
    EXPECT_EQ(Own::finished, 1);
    remove_int(Library::run);
    EXPECT_EQ(Library::finished, 1);
    EXPECT_TRUE(Own::policy != SCHED_FIFO || Library::policy == SCHED_OTHER) << "at real-time priority";
    EXPECT_FALSE(pthread_equal(Own::thread, Library::thread)) << "on the real-time thread";
}

std::atomic<int> selfRemovals{0}, callsAfter{0};
void remove_self()
{
    if (selfRemovals.load()) ++callsAfter;
    remove_int(remove_self);
    ++selfRemovals;
}

// A callback that removes itself is not waited for by itself, and is not
// called again; a period the deadline cannot hold is refused, not cut short.
TEST(SteadyTimer, ACallbackRemovesItselfAndTooLongAPeriodIsRefused)
{
    install_steady_timer();
    run_on_main_loop(remove_self);
    EXPECT_LT(install_int_ex(remove_self, Deadline::LongestPeriod + 1), 0);
    install_int_ex(remove_self, 100);
    for (int waited = 0; selfRemovals == 0 && waited < 5000; ++waited) rest(1);
    rest(20);
    EXPECT_EQ(selfRemovals, 1);
    EXPECT_EQ(callsAfter, 0);
}

pthread_t loopThread;
std::atomic<int> takenByTheLoop{0};
void count_the_loops_claims()
{
    if (pthread_equal(pthread_self(), loopThread)) ++takenByTheLoop;
}

// A main loop that is free takes its own deadlines itself; the thread behind
// it, later by design, only stands by.
TEST_F(SequencerTest, TheMainLoopTakesItsOwnDeadlinesWhenFree)
{
    install_steady_timer();
    loopThread = pthread_self();
    run_on_main_loop(count_the_loops_claims);
    install_int_ex(count_the_loops_claims, TIMERS_PER_SECOND / 1000);
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         takenByTheLoop < 10 && std::chrono::steady_clock::now() < end;)
        s().pass();
    remove_timer();
    EXPECT_GE(takenByTheLoop, 10);
}

}  // namespace
