// The real program, started without a display.
#include "headless.h"

#include <sys/wait.h>

#include <cstdlib>

namespace {

struct Ran { std::string out, err; int status; };

Ran run_without_display(const std::string& arguments)
{
    int status = std::system(("env -u DISPLAY '" PROGRAM_PATH "' " + arguments + " >startup.out 2>startup.err").c_str());
    return {contents("startup.out"), contents("startup.err"), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Without a window there is no instrument: the box's text on stdout, the reason on stderr, and a status that
// scripts can see. The command line is answered before anything needs a display.
TEST(StartUp, AnswersItsCommandLineAndFailsVisiblyWithoutDisplay)
{
    struct Case { const char *arguments, *out, *err; int status; };
    const Case cases[] = {
        {"", "Unable to set graphic mode!", "DISPLAY is not set", 1},
        {"--help", "Usage: kalverosin4 [--help | --version]\n", "", 0},
        {"--version", "kalverosin4 " KALVEROSIN_VERSION "\n", "", 0},
        {"--verbose", "", "Kalverosin 4: unknown argument '--verbose'; see kalverosin4 --help\n", 2},
        {"--help song.panel", "", "unknown argument 'song.panel'", 2},
    };
    for (const Case& c : cases) {
        Ran ran = run_without_display(c.arguments);
        EXPECT_EQ(ran.status, c.status) << c.arguments;
        EXPECT_NE(ran.out.find(c.out), std::string::npos) << c.arguments << ": " << ran.out;
        EXPECT_NE(ran.err.find(c.err), std::string::npos) << c.arguments << ": " << ran.err;
        EXPECT_EQ(ran.out.empty(), !*c.out) << c.arguments;
        EXPECT_EQ(ran.err.empty(), !*c.err) << c.arguments;
    }
}

}  // namespace
