// The steady timer: each deadline is taken exactly once, by the main loop or
// the thread behind it; on the real clock it keeps the programmed period where
// Allegro's own thread runs a few hundred ppm slow; the library's callbacks
// never run at real-time priority; and it runs just the same, silently, where
// real-time priority is refused.
#include "SteadyTimer.h"
#include "headless.h"

#include <allegro/platform/aintunix.h>
#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

TEST(SteadyTimer, KeepsTheProgrammedPeriodOverTenSeconds)
{
    install_steady_timer();
    ASSERT_TRUE(steady_timer_selected());
    run_on_main_loop(stamp);  // taken by the thread behind the main loop: no one polls here
    install_int_ex(stamp, Period);
    std::clock_t cpu = std::clock();
    bool done = ticked(Stamps);
    double seconds_on_cpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    remove_timer();
    ASSERT_TRUE(done);
    EXPECT_LT(std::fabs(drift_ppm()), 50.0) << "Allegro's own timer thread drifts 190 ppm and more";
    EXPECT_LT(seconds_on_cpu, 2.0) << "in ten seconds: the timer thread sleeps between its deadlines";
}

template <int Kind>
std::atomic<int> policy{-1};
template <int Kind>
void note_policy()
{
    policy<Kind> = sched_getscheduler(0);
}
template <int Kind>
std::atomic<int> calls{0};
template <int Kind>
std::atomic<int> finished{0};
template <int Kind>
void slow()
{
    if (calls<Kind>++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished<Kind> = 1;
}

// As show_mouse installs the pointer's redraw: a callback of the library's own.
TEST(SteadyTimer, TheLibrarysCallbacksNeverRunAtRealTimePriority)
{
    install_steady_timer();
    run_on_main_loop(note_policy<0>);
    install_int(note_policy<0>, 5);
    install_int(note_policy<1>, 5);
    for (int waited = 0; (policy<0> < 0 || policy<1> < 0) && waited < 5000; waited += 5) rest(5);
    remove_int(note_policy<0>);
    remove_int(note_policy<1>);
    if (policy<0> != SCHED_FIFO) GTEST_SKIP() << "no real-time priority here";
    EXPECT_EQ(policy<1>, SCHED_OTHER);
}

// Once remove_int returns, the callback is not running, on either kind of thread.
TEST(SteadyTimer, RemovingACallbackWaitsUntilItHasRun)
{
    install_steady_timer();
    run_on_main_loop(slow<0>);
    install_int(slow<0>, 1);
    install_int(slow<1>, 1);
    for (int waited = 0; (calls<0> == 0 || calls<1> == 0) && waited < 5000; waited += 1) rest(1);
    remove_int(slow<0>);
    EXPECT_EQ(finished<0>, 1);
    remove_int(slow<1>);
    EXPECT_EQ(finished<1>, 1);
}

TEST(SteadyTimer, RunsSilentlyAsANormalThreadWhereRealTimeIsRefused)
{
    int status = 0;
    std::string said = stderr_of([&] {
        pid_t child = fork();
        if (child == 0) {
            rlimit none{0, 0};
            setrlimit(RLIMIT_RTPRIO, &none);
            if (getuid() == 0 && (setgroups(0, nullptr) || setgid(65534) || setuid(65534))) _exit(3);
            sched_param param{};
            param.sched_priority = 1;
            if (sched_setscheduler(0, SCHED_FIFO, &param) == 0) _exit(77);
            install_steady_timer();
            install_int_ex(stamp, Period);
            _exit(steady_timer_selected() && ticked(50) ? 0 : 4);
        }
        waitpid(child, &status, 0);
    });
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "this system grants real-time priority to everyone";
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
    EXPECT_EQ(said, "");
}

}  // namespace
