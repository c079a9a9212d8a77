// End-to-end test ground: an Xvfb of the tests' own, the real program started
// in a working directory of its own, its window found, driven with xdotool,
// photographed pixel by pixel, and stopped by its process id. Every wait has a
// deadline and waits for a condition.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

// Polls a condition until it holds or the deadline passes; true if it held.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

// An Xvfb on a free display, 16 bits deep like the program's window.
class XServer {
public:
    static XServer& shared();
    std::string display;
    ~XServer();

private:
    XServer();
    pid_t pid = -1;
};

// A raw byte recorded by the capture driver.
struct CapturedByte {
    long long microseconds;
    int value;
};

// The real program under the shared Xvfb, recording its MIDI through the capture driver.
class Program {
public:
    // skinFilesToDrop: files of knobcut/ that this run's working directory lacks.
    explicit Program(const std::vector<std::string>& skinFilesToDrop = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Waits for the program's window; 0 if none appeared before the deadline.
    unsigned long find_window(std::chrono::milliseconds deadline = std::chrono::seconds(20));
    bool running();
    // Waits for the end; the exit status, or -1 if it did not end before the deadline.
    int wait_exit(std::chrono::milliseconds deadline);
    void stop();

    std::string error_output();
    std::vector<CapturedByte> captured();
    std::vector<std::vector<int>> captured_messages();
    // Waits until at least n messages have been captured.
    bool wait_for_messages(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(20));

    // Pointer and keys, through the X server, in window coordinates.
    void move(int x, int y);
    void button_down(int button = 1);
    void button_up(int button = 1);
    void click(int x, int y);
    void keys(const std::string& keysyms);
    // Puts the pointer where it hovers no widget: on the binding strip.
    void park();
    // Moves the pointer to (x, y) until the widget whose top-left corner is at
    // (left, top) shows its hovered look; false if it never did.
    bool hover(int x, int y, int left, int top);

    // The window's 640 x 480 pixels as RGB 565 values, row by row.
    std::vector<unsigned short> screenshot();

    std::string directory;
    pid_t pid = -1;
    unsigned long window = 0;

private:
    std::string capture_path;
    std::string stderr_path;
    int status = -1;
    bool reaped = false;
    void reap(bool block);
};

// Runs a command line through the shell and returns its standard output.
std::string shell(const std::string& command);

// Where park() leaves the pointer.
constexpr int ParkX = 320;
constexpr int ParkY = 238;

// The whole first picture as the panel composes it in memory, in RGB 565.
std::vector<unsigned short> headless_first_picture(const char* driverName);

// Pixels that differ between a screenshot and a picture, the pointer's sprite
// with its hot spot at (px, py) aside.
int differences(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected,
                int px = ParkX, int py = ParkY);

// Where a screenshot and a picture differ, for a failure message.
std::string describe_differences(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected);

// The first picture of the panel with the capture driver's name.
const std::vector<unsigned short>& first_picture();

// Starts the program and waits until its window shows the first picture.
void wait_for_first_picture(Program& program);
