// A MIDI driver that records every raw byte the sequencer sends, with a
// monotonic timestamp, to the file named in Allegro's configuration:
//
//   [sound]
//   midi_card = CAPT
//   capture_file = /path/to/capture.txt
//
// One line per byte: microseconds, a space, the byte in hexadecimal.
//
// While following a master it reads the master's raw MIDI bytes from a FIFO
// or a file, as a raw MIDI device would give them:
//
//   capture_input = /path/to/fifo
#include "ConfigValue.h"
#include "Kalverosin4.h"
#include "Report.h"
#include "SteadyTimer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int captureFile = -1;
std::string capturePath;
bool writeFailureReported = false;
int inputFile = -1;
bool inputIsRegularFile = false;

int capture_detect(int input) { return input ? FALSE : TRUE; }

int capture_init(int input, int)
{
    if (input) return -1;
    const char* path = config_value("sound", "capture_file");
    if (!path || !*path) {
        report(Severity::Warning, "the MIDI capture driver records nothing: name its file with capture_file "
                                  "in the [sound] section of allegro.cfg.");
        return -1;
    }
    captureFile = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (captureFile < 0) {
        report(Severity::Warning, std::string("cannot record MIDI to ") + path + ": " + std::strerror(errno) + ".");
        return -1;
    }
    capturePath = path;
    writeFailureReported = false;
    return 0;
}

void close_input()
{
    if (inputFile >= 0) close(inputFile);
    inputFile = -1;
}

void capture_exit(int)
{
    if (captureFile >= 0) close(captureFile);
    captureFile = -1;
    close_input();
}

// Said once: a full disk would otherwise say it for every byte.
void report_write_failure(int error)
{
    if (writeFailureReported) return;
    writeFailureReported = true;
    report(Severity::Warning,
           "MIDI bytes can no longer be recorded to " + capturePath + ": " + std::strerror(error) + ".");
}

// Written at once, unbuffered, so that a reader sees each byte as it leaves.
void capture_raw_midi(int data)
{
    if (captureFile < 0) return;
    char line[40];
    int length = std::snprintf(line, sizeof line, "%lld %02X\n", monotonic_nanoseconds() / 1000, data & 0xFF);
    ssize_t written = write(captureFile, line, static_cast<size_t>(length));
    if (written != length) report_write_failure(written < 0 ? errno : ENOSPC);
}

}  // namespace

// Opened without waiting, so that a FIFO without a writer does not hold up the
// start; it stays open, so that a writer may come, go and come again.
bool capture_listen()
{
    close_input();
    const char* path = config_value("sound", "capture_input");
    if (!path || !*path) {
        report(Severity::Warning, "the MIDI capture driver hears no MIDI input: name it with capture_input "
                                  "in the [sound] section of allegro.cfg.");
        return false;
    }
    inputFile = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat kind{};
    if (inputFile >= 0 && fstat(inputFile, &kind) == 0 && S_ISDIR(kind.st_mode)) {
        close_input();
        errno = EISDIR;
    }
    if (inputFile < 0) {
        report(Severity::Warning, std::string("cannot read MIDI from ") + path + ": " + std::strerror(errno) + ".");
        return false;
    }
    inputIsRegularFile = S_ISREG(kind.st_mode);
    return true;
}

// A FIFO without a writer reads as its end, and one may come later; a file
// that has ended is read no more.
int capture_read_input(unsigned char* bytes, int size)
{
    if (inputFile < 0) return -1;
    ssize_t got = read(inputFile, bytes, static_cast<size_t>(size));
    if (got > 0) return static_cast<int>(got);
    if (got == 0 && inputIsRegularFile) close_input();
    return -1;
}

int capture_input_descriptors(pollfd* fds, int room)
{
    if (inputFile < 0 || room < 1) return 0;
    fds[0] = {inputFile, POLLIN, 0};
    return 1;
}

MIDI_DRIVER midi_capture = {
    MIDI_CAPTURE,
    "MIDI capture",
    "Records raw MIDI bytes to a file",
    "MIDI capture",
    16, 0, 16, 16, -1, -1,
    capture_detect,
    capture_init,
    capture_exit,
    nullptr,
    nullptr,
    capture_raw_midi,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};
