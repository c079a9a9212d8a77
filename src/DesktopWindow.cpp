#include "DesktopWindow.h"

#include <allegro.h>
#include <allegro/internal/aintern.h>
#include <allegro/platform/aintunix.h>
#include <xalleg.h>

#include <sys/prctl.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdint>

extern "C" char** allegro_icon;  // Allegro's X driver reads it; no header declares it

namespace {

#include "WindowIcon.xpm"

constexpr const char* WindowClass = "kalverosin4";
constexpr const char* WindowTitle = "Kalverosin 4";
constexpr int ReleasedBit = 0x80;
// A control sees the pointer come in one frame and takes the press in the next.
constexpr int ReplayedFrames = 2;
// Allegro's input thread wakes every millisecond to see whether its 10 ms
// have passed: with this much slack, which it takes from the thread that made
// it, the kernel wakes it about once in them.
constexpr unsigned long InputThreadSlack = 9000000;

std::atomic<bool> closeRequested{false};
std::atomic<int> spacePresses{0};
bool spaceDown = false;  // X thread only

void request_close() { closeRequested.store(true); }

// The buttons pressed since the last frame, and where the first of them was
// pressed, in one word: low 8 bits buttons, then x and y, 16 bits each.
std::atomic<std::uint64_t> pressesSinceFrame{0};
int buttonsHeld = 0;  // X thread only
void (*allegroMouseHandler)(int, int, int, int, int) = nullptr;

std::uint64_t pack(int buttons, int x, int y)
{
    return static_cast<std::uint64_t>(buttons & 0xFF) | static_cast<std::uint64_t>(x & 0xFFFF) << 8 |
           static_cast<std::uint64_t>(y & 0xFFFF) << 24;
}
int buttons_of(std::uint64_t word) { return static_cast<int>(word & 0xFF); }
int x_of(std::uint64_t word) { return static_cast<std::int16_t>(word >> 8 & 0xFFFF); }
int y_of(std::uint64_t word) { return static_cast<std::int16_t>(word >> 24 & 0xFFFF); }

// The main thread's view of the pointer, frame by frame.
int buttonsLastFrame = 0;
int replayLeft = 0;
std::uint64_t replayed = 0;

}  // namespace

int install_allegro_named()
{
    xwin_set_window_name(WindowClass, WindowClass);
    allegro_icon = const_cast<char**>(window_icon_xpm);
    prctl(PR_SET_TIMERSLACK, InputThreadSlack);
    int result = install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
    prctl(PR_SET_TIMERSLACK, 0UL);  // the main thread's own again, for every thread it makes later
    if (result == 0) set_window_title(WindowTitle);
    return result;
}

void join_the_desktop()
{
    set_close_button_callback(request_close);
    keyboard_lowlevel_callback = hear_key;
    if (!_xwin_mouse_interrupt || _xwin_mouse_interrupt == hear_mouse) return;
    allegroMouseHandler = _xwin_mouse_interrupt;
    _xwin_mouse_interrupt = hear_mouse;
}

bool close_requested() { return closeRequested.load(); }

bool take_space_press() { return spacePresses.exchange(0) > 0; }

// On the X thread, after Allegro's own handler has moved _mouse_x and _mouse_y.
void hear_mouse(int dx, int dy, int dz, int dw, int buttons)
{
    if (allegroMouseHandler) allegroMouseHandler(dx, dy, dz, dw, buttons);
    int pressed = buttons & ~buttonsHeld;
    buttonsHeld = buttons;
    if (pressed == 0) return;
    std::uint64_t before = pressesSinceFrame.load();
    while (!pressesSinceFrame.compare_exchange_weak(
        before, before ? before | static_cast<std::uint64_t>(pressed) : pack(pressed, _mouse_x, _mouse_y))) {
    }
}

void hear_key(int scancode)
{
    if ((scancode & ~ReleasedBit) != KEY_SPACE) return;
    bool down = (scancode & ReleasedBit) == 0;
    if (down && !spaceDown) spacePresses.fetch_add(1);
    spaceDown = down;
}

void show_short_clicks()
{
    std::uint64_t presses = pressesSinceFrame.exchange(0);
    int lost = buttons_of(presses) & ~mouse_b & ~buttonsLastFrame;
    buttonsLastFrame = mouse_b;
    if (lost) {
        replayed = pack(lost, x_of(presses), y_of(presses));
        replayLeft = ReplayedFrames;
    }
    if (replayLeft == 0) return;
    --replayLeft;
    mouse_b |= buttons_of(replayed);
    mouse_x = x_of(replayed);
    mouse_y = y_of(replayed);
}
