#include "EndingSignals.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

volatile std::sig_atomic_t endingSignal = 0;

namespace {

constexpr int Ending[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
constexpr int Count = sizeof Ending / sizeof Ending[0];
bool ignoredAtStart[Count];

sigset_t ending_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int number : Ending) sigaddset(&set, number);
    return set;
}

void note(int number) { endingSignal = number; }

// Ignored ones stay ignored (nohup, a background job); the others get the handler.
void handle_each(void (*handler)(int))
{
    for (int k = 0; k < Count; ++k) {
        struct sigaction action {};
        action.sa_handler = ignoredAtStart[k] ? SIG_IGN : handler;
        sigemptyset(&action.sa_mask);
        // Allegro's and X's calls do not all expect to be interrupted.
        action.sa_flags = SA_RESTART;
        sigaction(Ending[k], &action, nullptr);
    }
    sigset_t set = ending_set();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

void hold_ending_signals()
{
    sigset_t set = ending_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    for (int k = 0; k < Count; ++k) {
        struct sigaction before {};
        sigaction(Ending[k], nullptr, &before);
        ignoredAtStart[k] = before.sa_handler == SIG_IGN;
    }
}

void note_ending_signals() { handle_each(note); }

void release_ending_signals() { handle_each(SIG_DFL); }

void end_by_noted_signal()
{
    int number = endingSignal;
    if (number == 0) return;
    std::fflush(nullptr);
    release_ending_signals();
    raise(number);
    std::_Exit(128 + number);
}
