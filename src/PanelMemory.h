// The panel kept between runs, when the user asks for it: a plain text file
// that is read once at start and written whenever the transport stops and at EXIT.
#pragma once

#include <string>

class Sequencer;

// The file named in the configuration (a leading ~/ is the home directory), or
// kalverosin4/panel below $XDG_STATE_HOME (by default ~/.local/state).
std::string panel_file_path(const char* configured);

// Sets every control to what the file keeps, as if the user had set it, before
// the first picture. A file that cannot be taken is named on stderr with the
// line at fault, kept aside as FILE.bad (or FILE.bad.1, ... where that is
// taken), and what it could not give starts as usual. Only a regular file of
// at most 64 KiB is read; anything else, and a bad file that cannot be kept
// aside, is named and left as it is, and then the result is false: the panel
// cannot be kept there.
bool restore_panel(Sequencer& sequencer, const std::string& path);

// Writes the panel to a new file of its own beside the old one, in the old
// one's mode, and renames it over it, so that a failed save never costs the
// pattern kept before and the last of two saves wins whole; through a symbolic
// link it writes the link's target. Over anything but a regular file it writes
// nothing. A failure is said on stderr.
bool save_panel(Sequencer& sequencer, const std::string& path);

// As save_panel, but the writing is done on a thread of its own, so that the
// caller waits for no disk; saves are written one after the other, never two
// at once, and of those waiting only the latest.
void save_panel_in_background(Sequencer& sequencer, const std::string& path);
// Returns once every save asked for is written; call before the program ends.
void finish_panel_saves();

// Renames without replacing an existing name (renameat2 with RENAME_NOREPLACE);
// tests put a refusing one here.
extern int (*renameNoReplace)(const char* from, const char* to);
