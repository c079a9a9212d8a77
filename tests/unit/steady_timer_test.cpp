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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr int Period = 12428;  // one tick at 120 BPM, in timer units
constexpr int Stamps = 1000;   // about ten seconds

long long stamps[Stamps];
std::atomic<int> ticks{0};

long long now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void stamp()
{
    int i = ticks.load();
    if (i < Stamps) stamps[i] = now_ns();
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

bool wait_for_ticks(int n, std::chrono::seconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    while (ticks.load() < n && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    double lag = earliest(2 * third, Stamps) - earliest(1, third);
    return lag / (2.0 * third * nominal) * 1e6;
}

TEST(SteadyTimer, KeepsTheProgrammedPeriodOverTenSeconds)
{
    install_steady_timer();
    ASSERT_TRUE(steady_timer_selected());
    ticks = 0;
    install_int_ex(stamp, Period);
    bool done = wait_for_ticks(Stamps, std::chrono::seconds(60));
    remove_timer();
    ASSERT_TRUE(done);
    EXPECT_LT(std::fabs(drift_ppm()), 50.0) << "Allegro's own timer thread drifts 190 ppm and more";
}

TEST(SteadyTimer, RunsSilentlyAsANormalThreadWhereRealTimeIsRefused)
{
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(errors[1], STDERR_FILENO);
        rlimit none{0, 0};
        setrlimit(RLIMIT_RTPRIO, &none);
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        sched_param param{};
        param.sched_priority = 1;
        if (sched_setscheduler(0, SCHED_FIFO, &param) == 0) _exit(77);
        install_steady_timer();
        if (!steady_timer_selected()) _exit(4);
        install_int_ex(stamp, Period);
        _exit(wait_for_ticks(50, std::chrono::seconds(20)) ? 0 : 5);
    }
    close(errors[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
    close(errors[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "this system grants real-time priority to everyone";
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
    EXPECT_EQ(said, "");
}

}  // namespace
