// A timer driver of the program's own that keeps the programmed tick period
// exactly; Allegro's own timer remains the fallback.
#pragma once

#include <allegro.h>

// Puts the steady timer first in Allegro's list; call after the system is
// installed and before install_timer().
void register_steady_timer();
// True when install_timer() chose the steady timer.
bool steady_timer_selected();
