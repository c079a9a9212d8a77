// The main loop's rest. While nothing is timed (the transport stopped) it
// sleeps until the next frame, and wakes at once when a master's input comes;
// with save_power it sleeps while playing too, until shortly before the next
// tick that sends a byte. Otherwise, playing, it polls and never sleeps.
#pragma once

// Sleeps until the monotonic nanosecond `until`, or, with wakeOnMaster, until
// the master's input can be read; a signal ends it early.
void rest_until(long long until, bool wakeOnMaster);
