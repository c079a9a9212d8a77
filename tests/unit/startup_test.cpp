// The real program, started without a display.
#include "headless.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

namespace {

// Without a window there is no instrument: the box's text on stdout, the
// reason on stderr, and a status that scripts can see.
TEST(StartUp, WithoutDisplayReportsTheGraphicModeWhyAndFails)
{
    std::string command = std::string("env -u DISPLAY ") + PROGRAM_PATH + " 2>stderr-without-display.txt";
    FILE* program = popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, program)) output += buffer;
    int status = pclose(program);
    std::ifstream errors("stderr-without-display.txt");
    std::string reason((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    EXPECT_NE(output.find("Unable to set graphic mode!"), std::string::npos) << output;
    EXPECT_NE(reason.find("DISPLAY is not set"), std::string::npos) << reason;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
