#include "Report.h"

#include "EndingSignals.h"

#include <allegro.h>

#include <cstdio>
#include <cstdlib>

void report(Severity severity, const std::string& line, const std::string& box)
{
    std::fprintf(stderr, "Kalverosin 4: %s\n", line.c_str());
    if (severity != Severity::Fatal) return;
    // While the box waits, a signal ends the program as it would any other.
    release_ending_signals();
    // No half-drawn panel stays on screen behind the box.
    if (gfx_driver) set_gfx_mode(GFX_TEXT, 0, 0, 0, 0);
    allegro_message("%s\n", (box.empty() ? line : box).c_str());
    std::exit(EXIT_FAILURE);
}
