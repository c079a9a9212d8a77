// A MIDI clock master for the follower's benchmark: writes Start, then Timing
// Clocks at a tempo, to a FIFO that the program reads as its capture input,
// each at its absolute deadline on the monotonic clock, and notes when each
// byte was written, in the capture driver's format (microseconds, hex byte).
//
// Usage: master_clock FIFO LOG SECONDS BPM [BPM_AFTER SECONDS_BEFORE_CHANGE]
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr long long NanosPerSecond = 1000000000;

long long now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * NanosPerSecond + t.tv_nsec;
}

void sleep_until(long long deadline)
{
    timespec when{static_cast<time_t>(deadline / NanosPerSecond), static_cast<long>(deadline % NanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
    }
}

// Stamped as the write begins: the program may read the byte before the write returns.
void send(int fifo, std::FILE* log, unsigned char byte)
{
    long long written = now_ns();
    if (write(fifo, &byte, 1) != 1) std::exit(1);
    std::fprintf(log, "%lld %02X\n", written / 1000, byte);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: master_clock FIFO LOG SECONDS BPM [BPM_AFTER SECONDS_BEFORE_CHANGE]\n");
        return 64;
    }
    int fifo = open(argv[1], O_WRONLY);
    std::FILE* log = std::fopen(argv[2], "w");
    if (fifo < 0 || !log) return 1;
    sched_param param{};
    param.sched_priority = 20;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // where the system allows it
    prctl(PR_SET_TIMERSLACK, 1UL);
    long long seconds = std::atoll(argv[3]);
    double bpm = std::atof(argv[4]);
    double after = argc == 7 ? std::atof(argv[5]) : bpm;
    long long change = argc == 7 ? std::atoll(argv[6]) * NanosPerSecond : seconds * NanosPerSecond;

    long long start = now_ns() + NanosPerSecond / 10;
    sleep_until(start);
    send(fifo, log, 0xFA);
    long long at = start + NanosPerSecond / 50;
    while (at < start + seconds * NanosPerSecond) {
        sleep_until(at);
        send(fifo, log, 0xF8);
        double tempo = at - start < change ? bpm : after;
        at += static_cast<long long>(60.0 * NanosPerSecond / (tempo * 24));
    }
    send(fifo, log, 0xFC);
    std::fclose(log);
    close(fifo);
    return 0;
}
