// The signals that ask the program to end (SIGTERM, SIGINT, SIGHUP, SIGQUIT)
// end it the way EXIT does: the handler only notes the signal, the main loop
// sees the note and ends as EXIT ends it, and the program then ends by the
// signal itself, with the status the signal gives.
#pragma once

#include <csignal>

extern volatile std::sig_atomic_t endingSignal;  // the signal noted; 0 while none came

// Holds them back while Allegro starts, so that its own handler, which shuts
// Allegro down inside the signal, never runs in the middle of the start-up.
void hold_ending_signals();
// From now on each is noted for the main loop; one held back meanwhile is noted at once.
// One that was ignored when the program started stays ignored.
void note_ending_signals();
// A single load: the main loop asks at every pass.
inline bool ending_signal_noted() { return endingSignal != 0; }
// Each ends the program at once again, as by default: there is no orderly end left to make.
void release_ending_signals();
// After the orderly end: ends the program by the signal noted, if one was.
void end_by_noted_signal();
