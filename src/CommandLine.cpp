#include "CommandLine.h"

#include "Report.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int UsageError = 2;  // as for any command whose arguments are wrong

constexpr const char* Help =
    "Usage: kalverosin4 [--help | --version]\n"
    "\n"
    "Kalverosin 4 is a 16-step MIDI step sequencer: a 640 x 480 window whose front\n"
    "panel is played with the mouse, sending MIDI through the ALSA sequencer as the\n"
    "client \"Kalverosin 4\" (connect its port \"MIDI Out\" to a synth with aconnect).\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Settings live in the [kalverosin4] and [sound] sections of Allegro's\n"
    "configuration file (usually ~/allegro.cfg). The skin is read from knobcut/ in\n"
    "the working directory, or from the installed one where there is none.\n"
    "SIGTERM, SIGINT and SIGHUP end the program as its EXIT button does.\n"
    "\n"
    "See kalverosin4(1) for every setting, the files and the exit status.\n";

bool is_option(const std::string& argument) { return argument == "--help" || argument == "-h" || argument == "--version"; }

}  // namespace

std::optional<int> answer_command_line(int argc, char** argv)
{
    if (argc < 2) return std::nullopt;
    const std::string argument = argv[1];
    if (argc == 2 && (argument == "--help" || argument == "-h")) {
        std::fputs(Help, stdout);
        return EXIT_SUCCESS;
    }
    if (argc == 2 && argument == "--version") {
        std::printf("kalverosin4 %s\n", KALVEROSIN_VERSION);
        return EXIT_SUCCESS;
    }
    const std::string unknown = is_option(argument) ? argv[2] : argument;
    report(Severity::Warning, "unknown argument '" + unknown + "'; see kalverosin4 --help");
    return UsageError;
}
