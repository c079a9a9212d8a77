// The panel as its user sees and handles it, driven with the pointer frame by
// frame: the first picture, the step buttons, the loop bars and the faders.
#include "headless.h"

#include <cmath>

namespace {

using PanelTest = SequencerTest;

// Held down, the pointer sets the cell under it in every step button it
// crosses, one frame after entering it; the two controller rows act as one.
TEST_F(PanelTest, DraggingAcrossStepButtonsSetsTheCellUnderThePointerInEach)
{
    auto hold_on = [&](But3& step, int cell_y) {
        pointer_at(step.x + 3, step.y + cell_y, 2);
        frame();
        frame();
        return step.get_state();
    };
    auto& upper = s().upperControllerRow.stepButtons;
    pointer_at(upper[0].x + 3, upper[0].y + 20);
    frame();
    for (But3& step : upper) EXPECT_EQ(hold_on(step, 20), 1);
    EXPECT_EQ(hold_on(s().lowerControllerRow.stepButtons[15], 3), 2);
    EXPECT_EQ(hold_on(s().noteRow.stepButtons[15], 3), 0);
    release();
    frame();
    click(upper[0].x + 7, upper[0].y + 37);
    EXPECT_EQ(upper[0].get_state(), 0) << "the bottom cell chooses the third line again";
}

// A loop end follows the held pointer along the LED strip until it lands next
// to the other end, where it stays; held over the other end, it moves both.
TEST_F(PanelTest, LoopEndsFollowThePointerAlongTheStripAndTheBarShowsTheLoop)
{
    struct Drag {
        std::vector<int> held;  // steps held in turn; 0 leaves the strip
        const char* loop;
        const char* shown;  // the strip's cells: # in the loop, . outside
    };
    const Drag drags[] = {
        {{4, 5, 6}, "1-8", "########........"},  // held off the ends: nothing moves
        {{1, 2, 3, 4, 5, 6, 7, 3}, "7-8", "......##........"},
        {{8, 7, 6, 5, 4, 3, 2, 5}, "1-2", "##.............."},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "7-10", "......####......"},
        {{1, 10}, "10-8", ".......###......"},
        {{8, 9, 0, 12}, "1-9", "#########......."},
        {{8, 7, 6, 5, 4, 3, 2, 1, 2, 5, 9, 16}, "16-17", "...............#"},
    };
    ButLed& bar = s().noteRow.loopBar;
    auto strip = [&] {
        std::string cells;
        for (int n = 0; n < 16; ++n)
            cells += shows(skin.buttonled_off, bar.x + 15 * n, bar.y) ? '#'
                     : shows(skin.buttonled_out, bar.x + 15 * n, bar.y) ? '.' : '?';
        return cells;
    };
    for (const Drag& drag : drags) {
        bar.start = 1;
        bar.end = 8;
        for (int step : drag.held) {
            pointer_at(step ? bar.x + 15 * step - 8 : bar.x, step ? bar.y + 7 : bar.y + 40, 1);
            frame();
        }
        release();
        frame();
        EXPECT_EQ(std::to_string(bar.start) + "-" + std::to_string(bar.end), drag.loop);
        EXPECT_EQ(strip(), drag.shown) << drag.loop;
        for (But3& step : s().noteRow.stepButtons) EXPECT_EQ(step.get_state(), 0) << drag.loop;
    }
}

// Dragged pixel by pixel, the knob snaps to the nearest position (halfway goes
// up) and rests at its value's share of the track; every value is reached.
TEST_F(PanelTest, EveryFaderSnapsToEvenlySpacedPositions)
{
    for (const FaderRange& r : panel_faders(s())) {
        Fader& f = *r.fader;
        int travel = f.length - 15;
        grab(f);
        for (int rel = 0; rel <= travel; ++rel) {
            pointer_at(f.x + rel + 7, f.y + 30, 1);
            frame();
            int n = static_cast<int>(std::floor((r.positions - 1) * rel / double(travel) + 0.5));
            int v = r.low + (r.high - r.low) * n / (r.positions - 1);
            ASSERT_EQ(f.value, v) << "fader at " << f.x << "," << f.y << " moved to " << rel;
            // The channel display covers the knob's last column at the right end.
            ASSERT_TRUE(shows(skin.faderknob_t, f.x + travel * (v - r.low) / (r.high - r.low), f.y, 14)) << rel;
        }
    }
}

// The lowest note, c0, is shown like any other: the c as c1 shows it, and a 0
// where c1 shows its 1; nothing of it is left bare.
TEST_F(PanelTest, TheLowestNoteIsShown)
{
    NoteLines& line = s().noteRow.lines;
    DisN& shown = line.noteDis1;
    drag(line.noteFader1, 0);
    drag(line.octaveFader1, 1);
    BITMAP* c1 = create_bitmap(25, 15);
    blit(schirm->surface, c1, shown.x, shown.y, 0, 0, 25, 15);
    drag(line.octaveFader1, 0);
    EXPECT_TRUE(same_pixels(schirm->surface, shown.x, shown.y, c1, 0, 0, 16, 15));
    EXPECT_NE(differing_pixels(schirm->surface, shown.x, shown.y, skin.display3_plain, 0, 0, 16, 15), 0);
    for (BITMAP* other : {skin.display3_plain, c1})
        EXPECT_NE(differing_pixels(schirm->surface, shown.x + 16, shown.y, other, 16, 0, 9, 15), 0);
    destroy_bitmap(c1);
}

// The first picture is the golden one, in the window too. Dragged off its track
// over the other controls of its row, a knob moves nothing else; brought back,
// it leaves the panel as it was.
TEST_F(PanelTest, FirstPictureIsTheGoldenOneAndAHeldKnobKeepsThePointerToItself)
{
    BITMAP* golden = golden_first_picture();
    ASSERT_NE(golden, nullptr) << "tests/golden/first-picture.bmp cannot be read";
    ASSERT_EQ(differing_pixels(schirm->surface, 0, 0, golden, 0, 0, 640, 480), 0)
        << "the panel is not tests/golden/first-picture.bmp; scripts/golden.sh draws it anew if that is meant";
    frame();
    EXPECT_TRUE(same_pixels(screen, 0, 0, golden, 0, 0, 640, 480)) << "the window shows the panel";
    // The lower controller row is left out: the two controller rows share their controls.
    for (int top : {s().upperControllerRow.y, s().noteRow.y, s().gateRow.y})
        for (const FaderRange& r : panel_faders(s())) {
            Fader& f = *r.fader;
            if (f.y < top || f.y >= top + 80) continue;
            int x = f.x + f.knob_pos + 5, y = f.y + 7;
            grab(f, 5);
            for (int j = top + 17; j < top + 80; j += 15)
                for (int i = 0; i < 640; i += 7) {
                    pointer_at(i, j, 1);
                    frame();
                    frame();
                }
            pointer_at(x, y, 1);
            frame();
            pointer_at(-100, -100);
            frame();
            frame();
            ASSERT_EQ(differing_pixels(schirm->surface, 0, 0, golden, 0, 0, 640, 480), 0)
                << "holding the fader at " << f.x << "," << f.y;
        }
}

}  // namespace
