// The window among the desktop's others: its name, class and icon, the close
// button, Space for STARTSTOP, and every click seen, however short.
#pragma once

// install_allegro for the desktop: the window it makes has the program's
// class and icon, and then its title. Returns what install_allegro returns.
int install_allegro_named();
// After the keyboard and the mouse are installed: the close button, Space and
// the pointer's presses are heard from then on.
void join_the_desktop();

// The close button was pressed: the program ends as EXIT ends it.
bool close_requested();
// True once for every key-down of Space since the last call; X's auto-repeat
// makes no key-down of its own.
bool take_space_press();
// Call after poll_mouse: a press and release that both came since the last
// frame show as a press held for this frame and the next, at the place of the
// press, so that the control under it takes the click as a held one.
void show_short_clicks();

// What Allegro's X thread hands on, for tests to play it without a display.
void hear_mouse(int dx, int dy, int dz, int dw, int buttons);
void hear_key(int scancode);
