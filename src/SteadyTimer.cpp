// The timer thread that drives every Allegro timer of the program, in place of
// Allegro's own. Allegro's thread sleeps for relative intervals and truncates
// the time it measured twice without carrying the rest, so its tick clock runs
// a few hundred ppm slow. This one sleeps to absolute deadlines on the
// monotonic clock and hands Allegro exact, carried timer units, asks for the
// finest timer slack, and for real-time priority where the system grants it.
#include "SteadyTimer.h"

#include <allegro/internal/aintern.h>
#include <allegro/platform/aintunix.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>

namespace {

constexpr long long NanosPerSecond = 1000000000;
constexpr long long UnitsPerSecond = TIMERS_PER_SECOND;
// Allegro's own longest sleep when no timer is due sooner.
constexpr long long IdleUnits = 0x8000;
// Above every ordinary thread, below the audio servers and JACK.
constexpr int ModestPriority = 15;

std::atomic<bool> alive{false};
pthread_t thread;
_DRIVER_INFO* (*allegroTimerDrivers)() = nullptr;

long long monotonic_nanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * NanosPerSecond + now.tv_nsec;
}

// Whole timer units in a span of nanoseconds, rounded down; exact for any span
// a program can run.
long long units_in(long long nanoseconds)
{
    return nanoseconds / NanosPerSecond * UnitsPerSecond +
           nanoseconds % NanosPerSecond * UnitsPerSecond / NanosPerSecond;
}

// The first nanosecond at which a number of timer units has fully passed.
long long nanoseconds_for(long long units)
{
    return units / UnitsPerSecond * NanosPerSecond +
           (units % UnitsPerSecond * NanosPerSecond + UnitsPerSecond - 1) / UnitsPerSecond;
}

void sleep_until(long long deadline)
{
    timespec when{static_cast<time_t>(deadline / NanosPerSecond), static_cast<long>(deadline % NanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

// Silently stays a normal thread where the system refuses; an rtprio limit
// below our wish is taken as it is.
void ask_for_realtime_priority()
{
    sched_param param{};
    param.sched_priority = ModestPriority;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0 &&
        limit.rlim_cur < static_cast<rlim_t>(ModestPriority))
        param.sched_priority = static_cast<int>(limit.rlim_cur);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void* timer_thread(void*)
{
    // Signals belong to the main thread: Allegro's SIGTERM handler shuts the timer down and waits for this thread.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    prctl(PR_SET_TIMERSLACK, 1UL);
    ask_for_realtime_priority();

    const long long origin = monotonic_nanoseconds();
    long long handed = 0;  // units given to Allegro since origin
    long long due = IdleUnits;
    while (alive.load()) {
        sleep_until(origin + nanoseconds_for(due));
        long long elapsed = units_in(monotonic_nanoseconds() - origin);
        long long interval = std::min<long long>(elapsed - handed, INT_MAX);
        handed += interval;
        due = handed + _handle_timer_tick(static_cast<int>(interval));
    }
    return nullptr;
}

int steady_init()
{
    alive = true;
    if (pthread_create(&thread, nullptr, timer_thread, nullptr) == 0) return 0;
    alive = false;
    return -1;
}

void steady_exit()
{
    alive = false;
    pthread_join(thread, nullptr);
}

void steady_rest(unsigned int milliseconds, void (*callback)())
{
    long long deadline = monotonic_nanoseconds() + milliseconds * 1000000LL;
    if (!callback) {
        sleep_until(deadline);
        return;
    }
    while (monotonic_nanoseconds() < deadline) callback();
}

TIMER_DRIVER steadyTimer = {
    AL_ID('S', 'T', 'D', 'Y'),
    "",
    "",
    "Steady timer",
    steady_init,
    steady_exit,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    steady_rest,
};

// Ours first; Allegro's own drivers follow, should our thread fail to start.
_DRIVER_INFO* timer_drivers_with_steady_first()
{
    constexpr int Room = 8;
    static _DRIVER_INFO list[Room];
    _DRIVER_INFO* theirs = allegroTimerDrivers ? allegroTimerDrivers() : _timer_driver_list;
    list[0] = {steadyTimer.id, &steadyTimer, TRUE};
    int n = 1;
    for (; n < Room - 1 && theirs && theirs[n - 1].driver; ++n) list[n] = theirs[n - 1];
    list[n] = {0, nullptr, 0};
    return list;
}

// Allegro 4.4's Unix mutex: a recursive lock around a pthread mutex.
struct UnixMutex {
    int lockCount;
    pthread_t owner;
    pthread_mutex_t actual;
};

// The main thread holds the timer's mutex while it hides the pointer for a
// copy; should it lose its processor meanwhile, priority inheritance lends it
// the timer thread's priority instead of leaving the ticks waiting.
void* create_inheriting_mutex()
{
    auto* mutex = static_cast<UnixMutex*>(_unix_create_mutex());
    if (!mutex) return nullptr;
    pthread_mutexattr_t inherit;
    pthread_mutexattr_init(&inherit);
    pthread_mutexattr_setprotocol(&inherit, PTHREAD_PRIO_INHERIT);
    pthread_mutex_destroy(&mutex->actual);
    pthread_mutex_init(&mutex->actual, &inherit);
    pthread_mutexattr_destroy(&inherit);
    return mutex;
}

}  // namespace

void register_steady_timer()
{
    if (!system_driver || system_driver->timer_drivers == timer_drivers_with_steady_first) return;
    allegroTimerDrivers = system_driver->timer_drivers;
    system_driver->timer_drivers = timer_drivers_with_steady_first;
    if (system_driver->create_mutex == _unix_create_mutex) system_driver->create_mutex = create_inheriting_mutex;
}

bool steady_timer_selected() { return timer_driver == &steadyTimer; }
