// The command line: the program is played from its panel and configured in
// Allegro's configuration file, so it only answers --help and --version.
#pragma once

#include <optional>

// Answers the arguments before anything of Allegro starts (no display needed):
// the status to end with, or nothing when the panel is to open.
std::optional<int> answer_command_line(int argc, char** argv);
