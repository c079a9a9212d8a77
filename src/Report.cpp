#include "Report.h"

#include "EndingSignals.h"

#include <allegro.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The box (xmessage on X) shows a longer line clipped, behind a scroll bar.
constexpr std::size_t BoxColumns = 72;

// A word longer than a line, such as a path, is broken after a '/' where it can be.
std::size_t cut_of_long_word(const std::string& word)
{
    std::size_t slash = word.rfind('/', BoxColumns - 1);
    return slash == std::string::npos || slash == 0 ? BoxColumns : slash + 1;
}

}  // namespace

std::string wrapped_for_box(const std::string& text)
{
    std::string out;
    std::size_t column = 0;
    auto new_line = [&] {
        out += '\n';
        column = 0;
    };
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ' || text[at] == '\n') {
            if (text[at++] == '\n') new_line();
            continue;
        }
        std::size_t end = std::min(text.find_first_of(" \n", at), text.size());
        std::string word = text.substr(at, end - at);
        at = end;
        if (column > 0 && column + 1 + word.size() > BoxColumns) new_line();
        if (column > 0) {
            out += ' ';
            ++column;
        }
        for (std::size_t cut; word.size() > BoxColumns; word.erase(0, cut)) {
            cut = cut_of_long_word(word);
            out += word.substr(0, cut);
            new_line();
        }
        out += word;
        column += word.size();
    }
    return out;
}

void report(Severity severity, const std::string& line, const std::string& box)
{
    std::fprintf(stderr, "Kalverosin 4: %s\n", line.c_str());
    if (severity != Severity::Fatal) return;
    // While the box waits, a signal ends the program as it would any other.
    release_ending_signals();
    // No half-drawn panel stays on screen behind the box.
    if (gfx_driver) set_gfx_mode(GFX_TEXT, 0, 0, 0, 0);
    allegro_message("%s\n", wrapped_for_box(box.empty() ? line : box).c_str());
    std::exit(EXIT_FAILURE);
}
