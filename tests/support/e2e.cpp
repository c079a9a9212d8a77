#include "e2e.h"

#include "headless.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::string shell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
    return output;
}

// ---------------------------------------------------------------------------
// Xvfb
// ---------------------------------------------------------------------------

XServer& XServer::shared()
{
    static XServer server;
    return server;
}

// Xvfb picks a free display itself and writes its number to the given descriptor.
XServer::XServer()
{
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x16", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd reader{fds[0], POLLIN, 0};
    auto end = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < end && number.find('\n') == std::string::npos) {
        if (poll(&reader, 1, 100) <= 0) continue;
        char c;
        if (read(fds[0], &c, 1) != 1) break;
        number += c;
    }
    close(fds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (number.empty()) throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    display = ":" + number;
    setenv("DISPLAY", display.c_str(), 1);
}

XServer::~XServer()
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

Program::Program(const std::vector<std::string>& skinFilesToDrop)
{
    XServer& server = XServer::shared();
    char pattern[] = "/tmp/kalverosin-e2e-XXXXXX";
    directory = mkdtemp(pattern);
    fs::copy(fs::path(SOURCE_DIR) / "knobcut", fs::path(directory) / "knobcut");
    for (const std::string& file : skinFilesToDrop) fs::remove(fs::path(directory) / "knobcut" / file);
    capture_path = directory + "/capture.txt";
    stderr_path = directory + "/stderr.txt";
    std::ofstream(directory + "/allegro.cfg") << "[sound]\nmidi_card = CAPT\ncapture_file = " << capture_path << "\n";
    // The pointer waits outside the window, so that the program starts with nothing hovered.
    shell("xdotool mousemove 790 590");

    pid = fork();
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) _exit(126);
        int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int out = open((directory + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        dup2(out, STDOUT_FILENO);
        setenv("DISPLAY", server.display.c_str(), 1);
        setenv("ALLEGRO", directory.c_str(), 1);
        execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
}

Program::~Program()
{
    stop();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

void Program::reap(bool block)
{
    if (reaped || pid <= 0) return;
    int raw = 0;
    if (waitpid(pid, &raw, block ? 0 : WNOHANG) != pid) return;
    reaped = true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

bool Program::running()
{
    reap(false);
    return !reaped;
}

int Program::wait_exit(std::chrono::milliseconds deadline)
{
    if (!wait_until([&] { return !running(); }, deadline)) return -1;
    return status;
}

void Program::stop()
{
    if (!running()) return;
    kill(pid, SIGTERM);
    if (wait_exit(std::chrono::seconds(5)) >= 0) return;
    kill(pid, SIGKILL);
    reap(true);
}

unsigned long Program::find_window(std::chrono::milliseconds deadline)
{
    wait_until(
        [&] {
            if (!running()) return true;
            std::string found = shell("xdotool search --onlyvisible --class Allegro 2>/dev/null");
            window = std::strtoul(found.c_str(), nullptr, 10);
            return window != 0;
        },
        deadline);
    return window;
}

std::string Program::error_output()
{
    std::ifstream file(stderr_path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<CapturedByte> Program::captured()
{
    std::vector<CapturedByte> bytes;
    std::ifstream file(capture_path);
    long long microseconds;
    std::string hex;
    while (file >> microseconds >> hex) bytes.push_back({microseconds, std::stoi(hex, nullptr, 16)});
    return bytes;
}

// Bytes grouped into messages at each status byte.
std::vector<std::vector<int>> Program::captured_messages()
{
    std::vector<std::vector<int>> messages;
    for (const CapturedByte& byte : captured()) {
        if (byte.value >= 0x80 || messages.empty()) messages.emplace_back();
        messages.back().push_back(byte.value);
    }
    return messages;
}

bool Program::wait_for_messages(size_t n, std::chrono::milliseconds deadline)
{
    return wait_until([&] { return captured_messages().size() >= n; }, deadline);
}

void Program::move(int x, int y)
{
    shell("xdotool mousemove --window " + std::to_string(window) + " " + std::to_string(x) + " " +
          std::to_string(y));
}

void Program::button_down(int button) { shell("xdotool mousedown " + std::to_string(button)); }
void Program::button_up(int button) { shell("xdotool mouseup " + std::to_string(button)); }

void Program::click(int x, int y)
{
    move(x, y);
    button_down();
    button_up();
}

void Program::keys(const std::string& keysyms) { shell("xdotool key --delay 20 " + keysyms); }

void Program::park() { move(ParkX, ParkY); }

// Read from the root window: the program draws into a child window whose own
// image Xvfb does not keep.
std::vector<unsigned short> Program::screenshot()
{
    std::vector<unsigned short> pixels;
    Display* display = XOpenDisplay(XServer::shared().display.c_str());
    if (!display) return pixels;
    Window root = DefaultRootWindow(display);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    XImage* image = XGetImage(display, root, x, y, 640, 480, AllPlanes, ZPixmap);
    if (image) {
        pixels.reserve(640 * 480);
        for (int j = 0; j < 480; ++j)
            for (int i = 0; i < 640; ++i) pixels.push_back(static_cast<unsigned short>(XGetPixel(image, i, j)));
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return pixels;
}

// ---------------------------------------------------------------------------
// The panel as the headless composition predicts it
// ---------------------------------------------------------------------------

std::vector<unsigned short> headless_first_picture(const char* driverName)
{
    start_headless_allegro();
    static MIDI_DRIVER named = MidiRecorder::driver;
    named.ascii_name = driverName;
    midi_driver = &named;
    pointer_at(-100, -100, 0);
    toset = 0;
    Schirm schirm;
    Sequencer sequencer(schirm, real_skin());
    sequencer.draw_first_picture();
    std::vector<unsigned short> pixels;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) pixels.push_back(static_cast<unsigned short>(getpixel(schirm.surface, x, y)));
    schirm.release();
    return pixels;
}

namespace {

bool in_box(int x, int y, int left, int top, int w, int h) { return x >= left && x < left + w && y >= top && y < top + h; }

}  // namespace

// Allegro draws its arrow from one pixel left of and above the hot spot.
int differences(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected, int px, int py)
{
    if (shot.size() != expected.size()) return -1;
    int count = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (!in_box(x, y, px - 2, py - 2, 16, 24)) count += shot[y * 640 + x] != expected[y * 640 + x];
    return count;
}

namespace {

struct Difference {
    int count = 0;
    int left = 640, right = -1, top = 480, bottom = -1;
};

Difference compare(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected)
{
    Difference d;
    if (shot.size() != expected.size()) {
        d.count = -1;
        return d;
    }
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (shot[y * 640 + x] != expected[y * 640 + x]) {
                ++d.count;
                d.left = std::min(d.left, x);
                d.right = std::max(d.right, x);
                d.top = std::min(d.top, y);
                d.bottom = std::max(d.bottom, y);
            }
    return d;
}

}  // namespace

std::string describe_differences(const std::vector<unsigned short>& shot, const std::vector<unsigned short>& expected)
{
    Difference d = compare(shot, expected);
    if (d.count < 0) return "no screenshot";
    return std::to_string(d.count) + " pixels differ within x " + std::to_string(d.left) + ".." +
           std::to_string(d.right) + ", y " + std::to_string(d.top) + ".." + std::to_string(d.bottom);
}

// Moves made during the program's start-up pause reach Allegro scaled wrongly
// (it corrects itself at the next move once the loop runs), so the pointer is
// moved to its parking place until the picture shows it exactly there.
const std::vector<unsigned short>& first_picture()
{
    static std::vector<unsigned short> expected = headless_first_picture("MIDI capture");
    return expected;
}

void wait_for_first_picture(Program& program)
{
    const std::vector<unsigned short>& expected = first_picture();
    ASSERT_NE(program.find_window(), 0ul) << program.error_output();
    std::vector<unsigned short> shot;
    bool parked = wait_until(
        [&] {
            program.move(ParkX + 6, ParkY);
            program.park();
            return wait_until(
                [&] {
                    shot = program.screenshot();
                    return differences(shot, expected) == 0;
                },
                std::chrono::milliseconds(300));
        },
        std::chrono::seconds(20));
    ASSERT_TRUE(parked) << describe_differences(shot, expected);
}

// The widget's corner (5 x 5 pixels, clear of the pointer's sprite) looks
// different from the first picture once the program shows it hovered.
bool Program::hover(int x, int y, int left, int top)
{
    const std::vector<unsigned short>& expected = first_picture();
    return wait_until(
        [&] {
            move(x, y);
            std::vector<unsigned short> shot = screenshot();
            for (int j = top; j < top + 5; ++j)
                for (int i = left; i < left + 5; ++i)
                    if (shot[j * 640 + i] != expected[j * 640 + i]) return true;
            return false;
        },
        std::chrono::seconds(20));
}
