// The steady timer on the real clock: it keeps the programmed period where
// Allegro's own thread runs a few hundred ppm slow, and it runs just the same,
// silently, where real-time priority is refused.
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

TEST(SteadyTimer, KeepsTheProgrammedPeriodOverTenSeconds)
{
    install_steady_timer();
    ASSERT_TRUE(steady_timer_selected());
    install_int_ex(stamp, Period);
    std::clock_t cpu = std::clock();
    bool done = ticked(Stamps);
    double seconds_on_cpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    remove_timer();
    ASSERT_TRUE(done);
    EXPECT_LT(std::fabs(drift_ppm()), 50.0) << "Allegro's own timer thread drifts 190 ppm and more";
    EXPECT_LT(seconds_on_cpu, 2.0) << "in ten seconds: the timer thread sleeps between its deadlines";
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
