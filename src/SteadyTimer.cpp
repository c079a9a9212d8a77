// The timer driver that drives every Allegro timer of the program, in place of
// Allegro's own, which sleeps for relative intervals and truncates the time it
// measured twice without carrying the rest, so that its tick clock runs a few
// hundred ppm slow, and which runs every callback, the pointer's too, on one
// thread under one lock.
//
// Deadlines here are absolute, in timer units counted on the monotonic clock,
// so nothing drifts. The program's own callbacks (the tick and the frame) are
// run by the main loop, which polls anyway and so sees a deadline at once; a
// real-time thread stands behind it for a main loop that is busy, waking only
// a moment after a deadline that was not taken. The library's callbacks, the
// pointer's redraw above all, which waits for the X display lock, run on an
// ordinary thread of their own, as Allegro's queue would run them.
#include "SteadyTimer.h"

#include <allegro/internal/aintern.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace {

constexpr long long NanosPerSecond = 1000000000;
constexpr long long UnitsPerSecond = TIMERS_PER_SECOND;
// The real-time thread takes a deadline the main loop left this long, and
// wakes after one that follows within Grace + Gap as well, rather than on it.
constexpr long long Grace = UnitsPerSecond / 2500;
constexpr long long Gap = UnitsPerSecond / 10000;
// The ordinary thread looks at least this often (the pointer's own rate).
constexpr long long LibraryLook = UnitsPerSecond / 100;
// Above every ordinary thread, below the audio servers and JACK.
constexpr int ModestPriority = 15;
constexpr int OwnTimers = 4;

// ---------------------------------------------------------------------------
// The clock

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

long long origin = 0;  // the clock's zero, set before the threads start

std::uint64_t units_now() { return static_cast<std::uint64_t>(units_in(monotonic_nanoseconds() - origin)); }

void sleep_until_units(long long units)
{
    long long deadline = origin + nanoseconds_for(units);
    timespec when{static_cast<time_t>(deadline / NanosPerSecond), static_cast<long>(deadline % NanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

// Signals belong to the main thread.
void block_signals()
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

// ---------------------------------------------------------------------------
// The program's own callbacks: claimed by the main loop, or by the real-time
// thread when the main loop is late

struct OwnTimer {
    std::atomic<void (*)()> proc{nullptr};
    std::atomic<std::uint64_t> mostOwed{UINT64_MAX};
    Deadline deadline;
    std::atomic<int> inside{0};  // threads that may be running the callback now
};

// The timer whose callback this thread is running, so that a callback that
// removes itself does not wait for itself.
thread_local OwnTimer* runningHere = nullptr;

OwnTimer own[OwnTimers];
std::atomic<bool> selected{false};

OwnTimer* own_timer(void (*proc)())
{
    for (OwnTimer& t : own)
        if (t.proc.load() == proc) return &t;
    return nullptr;
}

// Every deadline of t passed by `by`, each run once, in turn.
void run_passed(OwnTimer& t, std::uint64_t by)
{
    t.inside.fetch_add(1);
    runningHere = &t;
    while (t.deadline.claim(by, t.mostOwed.load(std::memory_order_relaxed))) t.proc.load()();
    runningHere = nullptr;
    t.inside.fetch_sub(1);
}

// The calls owed at the old period are made first, here, as Allegro's own
// thread would have made them before the change. Removed meanwhile by another
// thread, the timer starts afresh at the new period.
void change_period(OwnTimer& t, std::uint64_t period)
{
    for (;;) {
        std::uint64_t now = units_now();
        run_passed(t, now);
        if (t.deadline.change_period(now, period)) return;
        if (!t.deadline.running()) {
            t.deadline.start(now, period);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// The real-time thread: the main loop's backstop

std::mutex backstopLock;
std::condition_variable backstopWake;
bool backstopAlive = false;
pthread_t backstopThread;

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

// When the backstop next has to look: a grace after the earliest deadline, or
// after one that follows it closely. Each of its wake-ups costs the polling
// main loop some tens of microseconds on its processor, so it must never wake
// just as the main loop takes another deadline.
std::chrono::steady_clock::time_point backstop_wake_time()
{
    std::uint64_t now = units_now();
    long long first = UnitsPerSecond;
    for (OwnTimer& t : own)
        if (t.deadline.running()) first = std::min(first, static_cast<long long>(t.deadline.next(now) - now));
    long long wait = first + Grace;
    for (OwnTimer& t : own) {
        long long due = static_cast<long long>(t.deadline.next(now) - now);
        if (t.deadline.running() && due > first && due <= first + Grace + Gap) wait = std::max(wait, due + Grace);
    }
    long long at = origin + nanoseconds_for(static_cast<long long>(now) + std::max(wait, 0LL));
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(at));
}

// The next look is worked out under the lock, so that a deadline changed
// meanwhile (the change takes the lock to wake it) is never missed.
bool wait_for_next_look()
{
    std::unique_lock<std::mutex> lock(backstopLock);
    if (backstopAlive) backstopWake.wait_until(lock, backstop_wake_time());
    return backstopAlive;
}

void* backstop(void*)
{
    block_signals();
    prctl(PR_SET_TIMERSLACK, 1UL);
    ask_for_realtime_priority();
    while (wait_for_next_look()) {
        std::uint64_t now = units_now();
        std::uint64_t late = now > Grace ? now - Grace : 0;  // the clock starts at 0
        for (OwnTimer& t : own)
            if (t.deadline.passed(late)) run_passed(t, late);
    }
    return nullptr;
}

// A deadline moved or a timer started: the backstop works out its next look.
void wake_backstop()
{
    std::lock_guard<std::mutex> lock(backstopLock);
    backstopWake.notify_one();
}

// ---------------------------------------------------------------------------
// The ordinary thread: the library's callbacks, as Allegro's own queue runs
// them (a callback runs under the lock, so that remove_int waits for it)

struct LibraryTimer {
    void (*proc)() = nullptr;
    void (*paramProc)(void*) = nullptr;
    void* param = nullptr;
    long long period = 0;
    long long due = 0;
};

std::recursive_mutex libraryLock;
LibraryTimer library[MAX_TIMERS];
std::atomic<bool> libraryAlive{false};
pthread_t libraryThread;

bool in_use(const LibraryTimer& t) { return t.proc || t.paramProc; }

// The next look, in units.
long long run_library_timers()
{
    std::lock_guard<std::recursive_mutex> lock(libraryLock);
    long long now = static_cast<long long>(units_now());
    long long next = now + LibraryLook;
    for (LibraryTimer& t : library) {
        while (in_use(t) && t.period > 0 && t.due <= now) {
            t.due += t.period;
            if (t.paramProc)
                t.paramProc(t.param);
            else
                t.proc();
        }
        if (in_use(t) && t.period > 0) next = std::min(next, t.due);
    }
    return next;
}

void* library_thread(void*)
{
    block_signals();
    while (libraryAlive.load()) sleep_until_units(run_library_timers());
    return nullptr;
}

LibraryTimer* library_timer(void (*proc)(), void (*paramProc)(void*), void* param)
{
    for (LibraryTimer& t : library)
        if (in_use(t) && t.proc == proc && t.paramProc == paramProc && t.param == param) return &t;
    for (LibraryTimer& t : library)
        if (!in_use(t)) return &t;
    return nullptr;
}

int install_library_timer(void (*proc)(), void (*paramProc)(void*), void* param, long period)
{
    std::lock_guard<std::recursive_mutex> lock(libraryLock);
    LibraryTimer* t = library_timer(proc, paramProc, param);
    if (!t) return -1;
    if (in_use(*t))
        t->due += period - t->period;
    else
        *t = {proc, paramProc, param, 0, static_cast<long long>(units_now()) + period};
    t->period = period;
    return 0;
}

void remove_library_timer(void (*proc)(), void (*paramProc)(void*), void* param)
{
    std::lock_guard<std::recursive_mutex> lock(libraryLock);
    LibraryTimer* t = library_timer(proc, paramProc, param);
    if (t && in_use(*t)) *t = LibraryTimer{};
}

// ---------------------------------------------------------------------------
// The driver

int steady_install_int(void (*proc)(), long period)
{
    OwnTimer* t = own_timer(proc);
    if (!t) return install_library_timer(proc, nullptr, nullptr, period);
    if (period > 0 && static_cast<std::uint64_t>(period) > Deadline::LongestPeriod) return -1;
    if (period <= 0)
        t->deadline.stop();
    else if (!t->deadline.running())
        t->deadline.start(units_now(), static_cast<std::uint64_t>(period));
    else
        change_period(*t, static_cast<std::uint64_t>(period));
    wake_backstop();
    return 0;
}

// Returns once no other thread runs the callback any more; called from the
// callback itself, it returns at once, and the callback is not called again.
void steady_remove_int(void (*proc)())
{
    OwnTimer* t = own_timer(proc);
    if (!t) {
        remove_library_timer(proc, nullptr, nullptr);
        return;
    }
    t->deadline.stop();
    int self = runningHere == t ? 1 : 0;
    while (t->inside.load() != self) sched_yield();
}

int steady_install_param_int(void (*proc)(void*), void* param, long period)
{
    return install_library_timer(nullptr, proc, param, period);
}

void steady_remove_param_int(void (*proc)(void*), void* param) { remove_library_timer(nullptr, proc, param); }

void stop_backstop()
{
    {
        std::lock_guard<std::mutex> lock(backstopLock);
        if (!backstopAlive) return;
        backstopAlive = false;
        backstopWake.notify_one();
    }
    pthread_join(backstopThread, nullptr);
}

void stop_library_thread()
{
    if (!libraryAlive.exchange(false)) return;
    pthread_join(libraryThread, nullptr);
}

int steady_init()
{
    origin = monotonic_nanoseconds();
    backstopAlive = true;
    if (pthread_create(&backstopThread, nullptr, backstop, nullptr) != 0) {
        backstopAlive = false;
        return -1;
    }
    libraryAlive = true;
    if (pthread_create(&libraryThread, nullptr, library_thread, nullptr) != 0) {
        libraryAlive = false;
        stop_backstop();
        return -1;
    }
    selected = true;
    return 0;
}

// Safe to call again: a thread that is not running is not waited for.
void steady_exit()
{
    selected = false;
    stop_backstop();
    stop_library_thread();
    for (OwnTimer& t : own) t.deadline.stop();
    std::lock_guard<std::recursive_mutex> lock(libraryLock);
    for (LibraryTimer& t : library) t = LibraryTimer{};
}

void steady_rest(unsigned int milliseconds, void (*callback)())
{
    long long deadline = monotonic_nanoseconds() + milliseconds * 1000000LL;
    if (!callback) {
        timespec when{static_cast<time_t>(deadline / NanosPerSecond), static_cast<long>(deadline % NanosPerSecond)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
        }
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
    steady_install_int,
    steady_remove_int,
    steady_install_param_int,
    steady_remove_param_int,
    nullptr,
    nullptr,
    steady_rest,
};

_DRIVER_INFO* (*allegroTimerDrivers)() = nullptr;

// Ours first; Allegro's own drivers follow, should our threads fail to start.
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

// ---------------------------------------------------------------------------
// A deadline and its period in one word: the deadline, counted modulo 2^40
// units (10 days), in the high bits, the period in the low ones. The full
// deadline last written places those 40 bits (a claim moves a deadline by a
// period at most), so that they read right however long the process was
// stopped.

constexpr int PeriodBits = 24;
constexpr std::uint64_t PeriodMask = (std::uint64_t{1} << PeriodBits) - 1;

std::uint64_t pack(std::uint64_t deadline, std::uint64_t period) { return deadline << PeriodBits | period; }

std::uint64_t period_of(std::uint64_t word) { return word & PeriodMask; }

}  // namespace

static_assert(Deadline::LongestPeriod == PeriodMask);

std::uint64_t Deadline::deadline_of(std::uint64_t w) const
{
    std::uint64_t reference = written.load();
    long long apart = static_cast<long long>((w & ~PeriodMask) - (reference << PeriodBits)) >> PeriodBits;
    return reference + static_cast<std::uint64_t>(apart);
}

bool Deadline::replace(std::uint64_t w, std::uint64_t deadline, std::uint64_t period)
{
    if (!word.compare_exchange_strong(w, pack(deadline, period))) return false;
    written.store(deadline);
    return true;
}

long long monotonic_nanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * NanosPerSecond + now.tv_nsec;
}

// The reference first: whoever sees the new word reads it against it.
void Deadline::start(std::uint64_t now, std::uint64_t period)
{
    written.store(now + period);
    word.store(pack(now + period, std::clamp<std::uint64_t>(period, 1, PeriodMask)));
}

bool Deadline::change_period(std::uint64_t now, std::uint64_t period)
{
    std::uint64_t w = word.load();
    if (w == 0 || deadline_of(w) <= now) return false;
    period = std::clamp<std::uint64_t>(period, 1, PeriodMask);
    return replace(w, deadline_of(w) + period - period_of(w), period);
}

bool Deadline::passed(std::uint64_t now) const
{
    std::uint64_t w = word.load();
    return w != 0 && deadline_of(w) <= now;
}

// Deadlines further behind than the most owed are skipped: after a stall only
// the newest of them are called for, however long it was.
bool Deadline::claim(std::uint64_t now, std::uint64_t mostOwed)
{
    std::uint64_t w = word.load();
    if (w == 0) return false;
    std::uint64_t due = deadline_of(w), period = period_of(w);
    if (due > now) return false;
    std::uint64_t owed = (now - due) / period + 1;
    if (owed > mostOwed) due += (owed - std::max<std::uint64_t>(mostOwed, 1)) * period;
    return replace(w, due + period, period);
}

std::uint64_t Deadline::next(std::uint64_t) const { return deadline_of(word.load()); }

void register_steady_timer()
{
    if (!system_driver || system_driver->timer_drivers == timer_drivers_with_steady_first) return;
    allegroTimerDrivers = system_driver->timer_drivers;
    system_driver->timer_drivers = timer_drivers_with_steady_first;
}

bool steady_timer_selected() { return timer_driver == &steadyTimer; }

void run_on_main_loop(void (*proc)(), std::uint64_t mostOwed)
{
    OwnTimer* t = own_timer(proc);
    for (OwnTimer& free : own) {
        void (*none)() = nullptr;
        if (!t && free.proc.compare_exchange_strong(none, proc)) t = &free;
    }
    if (t) t->mostOwed.store(mostOwed);
}

long long next_own_deadline(void (*proc)())
{
    OwnTimer* t = selected.load(std::memory_order_relaxed) ? own_timer(proc) : nullptr;
    if (!t || !t->deadline.running()) return -1;
    std::uint64_t next = t->deadline.next(units_now());
    // Claimed but not yet run: its count is not in yet.
    if (t->inside.load() != 0) return -1;
    return origin + nanoseconds_for(static_cast<long long>(next));
}

void poll_steady_timer()
{
    if (!selected.load(std::memory_order_relaxed)) return;
    std::uint64_t now = units_now();
    for (OwnTimer& t : own)
        if (t.deadline.passed(now)) run_passed(t, now);
}
