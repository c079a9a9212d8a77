// Headless test ground: Allegro without a display, 16-bit colour in the RGB 565
// layout of the X11 window, the real skin, a pointer that tests move and press.
#pragma once

#include "Kalverosin4.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

Skin& real_skin();

inline void press(int buttons = 1) { mouse_b = buttons; }
inline void release() { mouse_b = 0; }
inline void pointer_at(int x, int y, int buttons = 0)
{
    mouse_x = x;
    mouse_y = y;
    press(buttons);
}

using Message = std::array<int, 3>;
using Bytes = std::vector<int>;  // as they leave: real-time messages are a byte each
inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Keeps every raw byte. Named as the capture driver, so that the panel starts as the golden picture.
struct MidiRecorder {
    static std::vector<int> bytes;
    static MIDI_DRIVER driver;
    static void clear() { bytes.clear(); }
};

int differing_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h);
inline bool same_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h)
{
    return differing_pixels(got, gx, gy, want, wx, wy, w, h) == 0;
}
// The panel at start as a person has approved it (drawn by scripts/golden.sh); null if unreadable.
BITMAP* golden_first_picture();

// A fader of the panel and the values it offers, spread evenly along its travel.
struct FaderRange {
    Fader* fader;
    int low, high, positions;
};
std::vector<FaderRange> panel_faders(Sequencer& s);

class HeadlessTest : public ::testing::Test {
protected:
    Skin skin;
    HeadlessTest() : skin(real_skin()) {}
    void SetUp() override
    {
        toset = 0;
        pointer_at(-100, -100);
    }
    void TearDown() override { pointer_at(-100, -100); }
};

// The whole panel in memory with its first picture drawn, a recording MIDI driver, the tick periods installed.
class SequencerTest : public HeadlessTest {
protected:
    static std::vector<int> installedPeriods;
    Schirm* schirm = nullptr;
    Sequencer* sequencer = nullptr;
    void SetUp() override;
    void TearDown() override;
    Sequencer& s() { return *sequencer; }
    // A pass of the main loop that draws a frame, or one with the tick counter at t and no frame owed.
    void frame();
    void tick_pass(int t);
    void tick_passes(int first, int last) { for (int t = first; t <= last; ++t) tick_pass(t); }
    // Presses and releases a button, with the hover frame first.
    void click(int x, int y);
    // Hovers a fader's knob and presses it, offset pixels from the knob's left edge.
    void grab(Fader& fader, int offset = 7);
    // Holds a fader's knob and moves the pointer a pixel a frame until the fader shows v.
    void drag(Fader& fader, int v);
    std::vector<Message> sent();  // the bytes recorded, as three-byte messages
    // Whether the surface shows the picture (its w left columns) with its top-left corner at (x, y).
    bool shows(BITMAP* picture, int x, int y, int w = 15)
    {
        return same_pixels(schirm->surface, x, y, picture, 0, 0, w, picture->h);
    }
};

// What a piece of code writes to stderr.
inline std::string stderr_of(const std::function<void()>& code)
{
    ::testing::internal::CaptureStderr();
    code();
    return ::testing::internal::GetCapturedStderr();
}

// What a file holds; empty where there is none.
inline std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
