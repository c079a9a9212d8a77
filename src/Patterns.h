// Sixteen patterns of the four rows (patterns on): a strip of buttons in the top
// cockpit chooses one, as a Program Change on the panel's channel does; while
// the rows play, the choice waits for the bar line. The panel always shows and
// edits the pattern that plays; the bank keeps the others as plain values, so
// that a save can copy it whole.
#pragma once

#include "MasterInput.h"

#include <array>

class Sequencer;

inline constexpr int PatternCount = 16;
inline constexpr int BarTicks = 192;  // every rate divides it, so every row is due on a bar line

// One row as a pattern keeps it: RATE as its exponent (a step of 192 >> rate
// ticks), STEP, DIRECT, the loop, the line each step button selects (0 bottom,
// 2 top, as the buttons hold it), the controller number (controller rows) and
// the three line values (note numbers on the note row).
struct RowPattern {
    int rate = 4;
    int step = 1;
    int direct = 2;
    int loopStart = 1;
    int loopEnd = 8;
    std::array<int, 16> lines{};
    int controller = 1;
    std::array<int, 3> values{};
};

// The rows from the top: upper controller, lower controller, note, velocity.
struct Pattern {
    bool used = false;  // played, or held something, once
    std::array<RowPattern, 4> rows{};
};

struct PatternBank {
    std::array<Pattern, PatternCount> patterns{};
    int playing = 0;  // its values stand in the rows, not here, while it plays
};

// The rows' values as plain data, and back into the rows' fields (nothing
// allocated, nothing drawn: the panel shows them once the rows are redrawn).
Pattern pattern_of_rows(Sequencer& s);
void put_in_rows(Sequencer& s, const Pattern& pattern);

class Patterns {
public:
    bool on = false;               // patterns = yes
    int grid = BarTicks;           // pattern_change = N: a switch every N bars
    PatternBank bank;

    // A click on pattern n (0 to 15) or a Program Change for it.
    void choose(Sequencer& s, int n);
    // At every tick before the rows step: a choice whose bar line has come switches.
    void at_tick(Sequencer& s, long long t);
    void draw_first(Sequencer& s);
    // Once a frame: the strip and its clicks, a choice made while stopped, the rows after a switch.
    void refresh(Sequencer& s);
    int chosen() const { return waiting; }

private:
    int waiting = -1;            // the pattern that comes next; -1 when none
    long long choiceAfter = -1;  // the last tick handled when it was chosen
    long long lastTick = -1;
    bool rowsChanged = false;
    int frames = 0;
    int lastPressed = -1;
    std::array<int, PatternCount> shown{};  // each button's look as drawn; 0 before the first picture
    void switch_to(Sequencer& s, int n);
    int look(int n) const;
    void take_click(Sequencer& s);
};

// A Program Change or Note On read from the input: patterns and transpose hear it.
void hear_player(Sequencer& s, const MasterMessage& message);
// Reads the input in a pass where no master is followed, while patterns or transpose listen.
void listen_to_player(Sequencer& s);
