#include "e2e.h"

#include "headless.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <numeric>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    for (auto end = Clock::now() + deadline; Clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::string shell(const std::string& command)
{
    std::string output;
    char buffer[512];
    FILE* pipe = popen(command.c_str(), "r");
    while (pipe && fgets(buffer, sizeof buffer, pipe)) output += buffer;
    if (pipe) pclose(pipe);
    return output;
}

XServer& XServer::shared()
{
    static XServer server;
    return server;
}

// The shell that reads scripts/xvfb.sh becomes Xvfb and keeps its process id.
XServer::XServer()
{
    int number = -1;
    reader = popen("exec bash -c '. \"" SOURCE_DIR "/scripts/xvfb.sh\" && echo $$ && run_xvfb 1'", "r");
    if (!reader || fscanf(reader, "%d %d", &pid, &number) != 2) throw std::runtime_error("Xvfb did not start");
    display = ":" + std::to_string(number);
    setenv("DISPLAY", display.c_str(), 1);
}

XServer::~XServer()
{
    kill(pid, SIGTERM);
    pclose(reader);
}

Program::Program(const std::vector<std::string>& skinFilesToDrop, const std::string& options)
{
    XServer::shared();
    char pattern[] = "/tmp/kalverosin-e2e-XXXXXX";
    directory = mkdtemp(pattern);
    fs::copy(fs::path(SOURCE_DIR) / "knobcut", fs::path(directory) / "knobcut");
    for (const std::string& name : skinFilesToDrop) fs::remove(fs::path(directory) / "knobcut" / name);
    if (!options.empty())
        std::ofstream(directory + "/allegro.cfg")
            << "[sound]\nmidi_card = CAPT\ncapture_file = " << directory << "/capture.txt\n" << options;
    pid = fork();
    const char* start = ". '" SOURCE_DIR "/scripts/xvfb.sh' && run_program \"$0\" \"$1\"";
    if (pid != 0) return;
    // The working directory is home too: whatever the program keeps lands there.
    setenv("HOME", directory.c_str(), 1);
    unsetenv("XDG_STATE_HOME");
    execl("/bin/bash", "bash", "-c", start, PROGRAM_PATH, directory.c_str(), nullptr);
    _exit(127);
}

Program::~Program()
{
    stop();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

bool Program::running()
{
    int raw = 0;
    if (!reaped && waitpid(pid, &raw, WNOHANG) == pid) {
        reaped = true;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return !reaped;
}

// SIGTERM ends the program as EXIT does; SIGKILL only should that ever hang.
void Program::stop()
{
    if (!running()) return;
    kill(pid, SIGTERM);
    if (wait_exit(std::chrono::seconds(5)) >= 0) return;
    kill(pid, SIGKILL);
    wait_exit(std::chrono::seconds(5));
}

unsigned long Program::find_window(std::chrono::milliseconds deadline)
{
    wait_until(
        [&] {
            window = std::strtoul(shell("xdotool search --onlyvisible --class kalverosin4").c_str(), nullptr, 10);
            return window != 0 || !running();
        },
        deadline);
    return window;
}

std::string Program::file(const std::string& name)
{
    return contents(directory + "/" + name);
}

std::string Program::report()
{
    std::string state = running() ? "running" : "ended with status " + std::to_string(status);
    return "the program is " + state + "; stdout: \"" + file("stdout.txt") + "\"; stderr: \"" + error_output() + "\"";
}

std::vector<std::vector<int>> Program::captured_messages()
{
    std::vector<std::vector<int>> messages;
    std::ifstream capture(directory + "/capture.txt");
    long long microseconds;
    std::string hex;
    while (capture >> microseconds >> hex) {
        int byte = std::stoi(hex, nullptr, 16);
        if (byte >= 0x80 || messages.empty()) messages.emplace_back();
        messages.back().push_back(byte);
    }
    return messages;
}

void Program::move(int x, int y)
{
    shell("xdotool mousemove --window " + std::to_string(window) + " " + std::to_string(x) + " " + std::to_string(y));
}

// The window keeps the pointer's last place in it: the binding strip, where it hovers nothing.
void Program::park()
{
    move(panel_place("row-binding").x + 125, panel_place("row-binding").y + 3);
    shell("xdotool mousemove 790 590");
}

void Program::close_window()
{
    Display* display = XOpenDisplay(XServer::shared().display.c_str());
    if (!display) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
}

// Read from the root window: the program draws into a child window whose own
// image Xvfb does not keep.
std::vector<unsigned short> Program::screenshot()
{
    std::vector<unsigned short> pixels;
    Display* display = XOpenDisplay(XServer::shared().display.c_str());
    if (!display) return pixels;
    Window root = DefaultRootWindow(display), child;
    int x = 0, y = 0;
    // A window closed meanwhile (the program ending) gives no picture rather than ending the tests.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    bool open = XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    if (XImage* image = open ? XGetImage(display, root, x, y, 640, 480, AllPlanes, ZPixmap) : nullptr) {
        for (int j = 0; j < 480; ++j)
            for (int i = 0; i < 640; ++i) pixels.push_back(static_cast<unsigned short>(XGetPixel(image, i, j)));
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return pixels;
}

bool Program::hover(int x, int y, int left, int top)
{
    return wait_until(
        [&] {
            move(x, y);
            std::vector<unsigned short> shot = screenshot();
            for (int j = top; j < top + 5 && shot.size() == first_picture().size(); ++j)
                for (int i = left; i < left + 5; ++i)
                    if (shot[j * 640 + i] != first_picture()[j * 640 + i]) return true;
            return false;
        },
        std::chrono::seconds(20));
}

// The program reads the pointer once a frame (20 ms): a release and a press
// closer together than that are one long press to it, and a button ignores
// presses for 10 frames after it toggled. So every press follows a release by
// well over three frames, and a press is made again until the button's look
// (a toggle), the condition or the program's end shows that it was seen.
bool Program::press_until(int left, int top, const std::function<bool()>& condition)
{
    if (!hover(left + 7, top + 7, left, top)) return false;
    auto look = [&] {
        std::vector<unsigned short> shot = screenshot(), area;
        for (int j = top; j < top + 15 && !shot.empty(); ++j)
            area.insert(area.end(), shot.begin() + j * 640 + left, shot.begin() + j * 640 + left + 15);
        return area;
    };
    std::vector<unsigned short> before;
    auto steady = [&] {
        std::vector<unsigned short> now = look();
        bool same = now == before;
        before = now;
        return same;
    };
    wait_until(steady, std::chrono::seconds(2));
    auto seen = [&] { return condition() || !running() || look() != before; };
    for (auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end;) {
        shell("xdotool mousedown 1");
        bool taken = wait_until(seen, std::chrono::seconds(2)) && wait_until(condition, std::chrono::seconds(20));
        shell("xdotool mouseup 1");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        if (taken || (seen() && wait_until(condition, std::chrono::seconds(20)))) return true;
    }
    return condition();
}

const std::vector<unsigned short>& first_picture()
{
    static std::vector<unsigned short> pixels = [] {
        std::vector<unsigned short> all;
        BITMAP* golden = golden_first_picture();
        for (int y = 0; golden && y < 480; ++y)
            for (int x = 0; x < 640; ++x) all.push_back(static_cast<unsigned short>(getpixel(golden, x, y)));
        return all;
    }();
    return pixels;
}

void wait_for_first_picture(Program& program)
{
    ASSERT_EQ(first_picture().size(), 640u * 480) << "tests/golden/first-picture.bmp cannot be read";
    ASSERT_NE(program.find_window(), 0ul) << "no window: " << program.report();
    // A move made during the program's start-up pause can reach it misplaced, so
    // the pointer is parked again now and then; not at every look, since each
    // move shows the pointer until the program has seen it leave.
    std::vector<unsigned short> shot;
    Clock::time_point parked{};
    auto shown = [&] {
        shot = program.screenshot();
        if (shot == first_picture()) return true;
        if (Clock::now() - parked > std::chrono::seconds(1)) {
            program.park();
            parked = Clock::now();
        }
        return false;
    };
    EXPECT_TRUE(wait_until(shown, std::chrono::seconds(20)))
        << "not the golden first picture (" << program.report() << "): of " << shot.size() << " pixels shot, "
        << std::inner_product(shot.begin(), shot.end(), first_picture().begin(), 0L, std::plus<>(), std::not_equal_to<>())
        << " differ";
}
