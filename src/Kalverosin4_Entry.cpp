// The program's entry; everything else lives in the library so that tests link it.
#include "CommandLine.h"
#include "Kalverosin4.h"

int main(int argc, char** argv)
{
    if (std::optional<int> status = answer_command_line(argc, argv)) return *status;
    return run_kalverosin();
}
END_OF_MAIN()
