#include "TickStamps.h"
#include "SteadyTimer.h"

#ifdef KALVEROSIN_TICK_STAMPS

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// An hour at 249 BPM; later ticks are not noted. Nothing is allocated on the tick's path.
constexpr int Room = 1 << 20;
long long stamps[Room];
std::atomic<int> stamped{0};

}  // namespace

// The main loop and the timer thread behind it may both stamp.
void stamp_tick()
{
    long long now = monotonic_nanoseconds();
    int i = stamped.fetch_add(1);
    if (i < Room) stamps[i] = now;
}

void write_tick_stamps()
{
    const char* path = std::getenv("KALVEROSIN_TICK_STAMPS");
    if (!path) return;
    std::FILE* file = std::fopen(path, "w");
    if (!file) return;
    int n = std::min(stamped.load(), Room);
    for (int i = 0; i < n; ++i) std::fprintf(file, "%lld\n", stamps[i]);
    std::fclose(file);
}

#endif
