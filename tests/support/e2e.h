// End-to-end test ground: an Xvfb of the tests' own and the real program in a
// working directory of its own, both started by scripts/xvfb.sh and stopped by
// their process ids. Every wait has a deadline and waits for a condition.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

// True once the condition holds; false if the deadline passed first.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds deadline);
std::string shell(const std::string& command);  // its standard output

// An Xvfb on a free display, 16 bits deep like the program's window.
class XServer {
public:
    static XServer& shared();
    std::string display;
    ~XServer();

private:
    XServer();
    FILE* reader;
    pid_t pid = -1;
};

// The real program under the shared Xvfb, recording its MIDI through the capture driver.
class Program {
public:
    // options: more of allegro.cfg after the capture driver's [sound] section.
    explicit Program(const std::vector<std::string>& skinFilesToDrop = {}, const std::string& options = "");
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    // The program's window; 0 if the program ended or the deadline passed first.
    unsigned long find_window(std::chrono::milliseconds deadline = std::chrono::seconds(20));
    bool running();
    // The exit status, or -1 if the deadline passed first.
    int wait_exit(std::chrono::milliseconds deadline) { return wait_until([&] { return !running(); }, deadline) ? status : -1; }
    void stop();
    std::string error_output() { return file("stderr.txt"); }
    std::string report();  // whether it runs or how it ended, and what it wrote
    // The bytes the capture driver recorded, a message from each status byte on.
    std::vector<std::vector<int>> captured_messages();
    void move(int x, int y);  // in window coordinates
    void close_window();  // as the desktop's close button asks: WM_DELETE_WINDOW
    void park();  // outside the window, hovering nothing
    // Moves the pointer to (x, y) until the 5 x 5 corner at (left, top) of the
    // widget there looks other than in the first picture; false if it never did.
    bool hover(int x, int y, int left, int top);
    // Holds the 15 x 15 button at (left, top) down, as a user holds a click, until
    // the condition holds; false if it never did. An unseen press is made again.
    bool press_until(int left, int top, const std::function<bool()>& condition);
    std::vector<unsigned short> screenshot();  // 640 x 480 RGB 565 values, row by row
    std::string directory;
    pid_t pid = -1;
    unsigned long window = 0;

private:
    int status = -1;
    bool reaped = false;
    std::string file(const std::string& name);
};

// The golden first picture (tests/golden/first-picture.bmp) in RGB 565, row by row.
const std::vector<unsigned short>& first_picture();
// Waits until the window shows the first picture pixel for pixel, the pointer parked.
void wait_for_first_picture(Program& program);
