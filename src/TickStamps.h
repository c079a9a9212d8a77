// Benchmark builds (KALVEROSIN_BENCH) note when every tick callback ran, so that
// bench/timing.sh can tell the timer's own lateness from the main loop's. In
// every other build these do nothing.
#pragma once

#ifdef KALVEROSIN_TICK_STAMPS
void stamp_tick();
// Writes the stamps, one monotonic nanosecond count per line, to the file named
// by the environment variable KALVEROSIN_TICK_STAMPS, if it is set.
void write_tick_stamps();
#else
inline void stamp_tick() {}
inline void write_tick_stamps() {}
#endif
