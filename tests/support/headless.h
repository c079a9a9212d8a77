// Headless test ground: Allegro without a display, 16-bit colour in the RGB 565
// layout of the X11 window, the real skin from knobcut/, a pointer that tests
// move and press, a recording MIDI driver, and pixel comparisons.
#pragma once

#include "Kalverosin4.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

void start_headless_allegro();
Skin& real_skin();

// The mouse as the widgets see it.
void pointer_at(int x, int y, int buttons = 0);
void press(int buttons = 1);
void release();

// A three-byte MIDI message as sent.
using Message = std::array<int, 3>;

// A MIDI driver that keeps every raw byte; messages() groups them in threes.
struct MidiRecorder {
    static std::vector<int> bytes;
    static MIDI_DRIVER driver;
    static void install();
    static std::vector<Message> messages();
    static void clear() { bytes.clear(); }
};

// Pixels of a picture, in this run's 16-bit layout.
int pixel(BITMAP* bitmap, int x, int y);
bool same_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h);
// Number of pixels that differ between two areas.
int differing_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h);
// True when every pixel of the area has the mask colour.
bool all_mask(BITMAP* bitmap, int x, int y, int w, int h);
// Saves a picture as BMP under the build directory, for a look when a test fails.
std::string save_for_inspection(BITMAP* bitmap, const std::string& name);

// Releases a record's picture when the test is done with it.
struct Picture {
    blitz_struct record;
    explicit Picture(blitz_struct r) : record(r) {}
    ~Picture() { release_picture(record.bitmap); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    BITMAP* operator->() const { return record.bitmap; }
    BITMAP* get() const { return record.bitmap; }
};

class HeadlessTest : public ::testing::Test {
protected:
    Skin skin;
    HeadlessTest();
    void SetUp() override;
    void TearDown() override;
};

// The whole panel in memory with a recording MIDI driver and a recorder for
// the tick periods that the loop installs.
class SequencerTest : public HeadlessTest {
protected:
    static std::vector<int> installedPeriods;
    Schirm* schirm = nullptr;
    Sequencer* sequencer = nullptr;

    void SetUp() override;
    void TearDown() override;

    // One pass of the main loop that draws a frame.
    void frame();
    // A pass of the main loop with the tick counter at t and no frame owed.
    void tick_pass(int t);
    // Presses and releases a cockpit button, with the hover frame first.
    void click(int x, int y);
    std::vector<Message> sent() { return MidiRecorder::messages(); }
};

// What a piece of code writes to stderr.
std::string stderr_of(const std::function<void()>& code);
