#include "TickStamps.h"

#ifdef KALVEROSIN_TICK_STAMPS

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// An hour at 249 BPM; later ticks are not noted. Nothing is allocated on the tick's path.
constexpr int Room = 1 << 20;
long long stamps[Room];
std::atomic<int> stamped{0};

}  // namespace

void stamp_tick()
{
    int i = stamped.load(std::memory_order_relaxed);
    if (i >= Room) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    stamps[i] = now.tv_sec * 1000000000LL + now.tv_nsec;
    stamped.store(i + 1, std::memory_order_release);
}

void write_tick_stamps()
{
    const char* path = std::getenv("KALVEROSIN_TICK_STAMPS");
    if (!path) return;
    std::FILE* file = std::fopen(path, "w");
    if (!file) return;
    int n = stamped.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) std::fprintf(file, "%lld\n", stamps[i]);
    std::fclose(file);
}

#endif
