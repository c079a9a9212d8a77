// The loop bar (LED strip with draggable loop ends) and the single LED.
#include "headless.h"

#include <string>

namespace {

class LoopBarTest : public HeadlessTest {
protected:
    static constexpr int X = 195;
    static constexpr int Y = 85;
    ButLed bar{3012, skin, X, Y};

    void over_step(int n, int buttons) { pointer_at(X + 15 * (n - 1) + 7, Y + 7, buttons); }
    // One frame with the button held over step n.
    void hold_on(int n)
    {
        over_step(n, 1);
        release_picture(bar.refresh().bitmap);
    }
    void let_go()
    {
        release();
        release_picture(bar.refresh().bitmap);
    }
    std::string loop() { return std::to_string(bar.start) + "-" + std::to_string(bar.end); }

    // Faces of the 16 cells: 'o' outside, '-' inside, '*' lit.
    std::string look(BITMAP* picture)
    {
        std::string cells;
        for (int n = 0; n < 16; ++n) {
            if (same_pixels(picture, 15 * n, 0, skin.buttonled_on, 0, 0, 15, 15))
                cells += '*';
            else if (same_pixels(picture, 15 * n, 0, skin.buttonled_off, 0, 0, 15, 15))
                cells += '-';
            else if (same_pixels(picture, 15 * n, 0, skin.buttonled_out, 0, 0, 15, 15))
                cells += 'o';
            else
                cells += '?';
        }
        return cells;
    }
};

TEST_F(LoopBarTest, FreshStripShowsStepsOneToEightInsideTheLoop)
{
    Picture picture(bar.draw(0));
    ASSERT_EQ(picture->w, 240);
    ASSERT_EQ(picture->h, 15);
    EXPECT_EQ(look(picture.get()), "--------oooooooo");
    bar.current = 3;
    Picture three(bar.draw(0));
    EXPECT_EQ(look(three.get()), "--*-----oooooooo");
    bar.current = 12;
    Picture twelve(bar.draw(0));
    EXPECT_EQ(look(twelve.get()), "--------ooo*oooo");
}

TEST_F(LoopBarTest, StartMarkerFollowsUntilItMeetsTheEndWhichIsThenPickedUp)
{
    hold_on(1);
    for (int n = 2; n <= 7; ++n) {
        hold_on(n);
        EXPECT_EQ(bar.start, n);
    }
    EXPECT_EQ(bar.grab_start, 0) << "put down next to the end marker";
    hold_on(8);
    EXPECT_EQ(bar.grab_end, 1);
    hold_on(9);
    hold_on(10);
    EXPECT_EQ(loop(), "7-10");
    let_go();
    EXPECT_EQ(loop(), "7-10");
}

TEST_F(LoopBarTest, EndMarkerDraggedRightStaysWhereReleased)
{
    for (int n = 8; n <= 12; ++n) hold_on(n);
    let_go();
    EXPECT_EQ(loop(), "1-12");
    Picture picture(bar.draw(0));
    EXPECT_EQ(look(picture.get()), "------------oooo");
}

TEST_F(LoopBarTest, PressingAStepThatIsNoMarkerChangesNothingButRedraws)
{
    over_step(5, 0);
    EXPECT_EQ(bar.refresh().bitmap, nullptr);
    over_step(5, 1);
    Picture pressed(bar.refresh());
    EXPECT_NE(pressed.get(), nullptr);
    EXPECT_EQ(loop(), "1-8");
    EXPECT_EQ(toset, 3012);
    hold_on(6);
    EXPECT_EQ(loop(), "1-8");
}

TEST_F(LoopBarTest, StartLeftBeyondTheEndShowsTheStepsBetweenAsTheLoop)
{
    hold_on(1);
    hold_on(10);
    EXPECT_EQ(loop(), "10-8");
    Picture picture(bar.draw(0));
    EXPECT_EQ(look(picture.get()), "ooooooo---oooooo") << "the steps between the markers play, so they show as the loop";
}

TEST_F(LoopBarTest, BothMarkersHeldMoveAsAPair)
{
    // End dragged left up to the start, over the start's cell and back right: both held.
    hold_on(8);
    for (int n = 7; n >= 2; --n) hold_on(n);
    EXPECT_EQ(loop(), "1-2");
    EXPECT_EQ(bar.grab_end, 0) << "put down next to the start marker";
    hold_on(1);
    hold_on(2);
    EXPECT_EQ(bar.grab_start, 1);
    EXPECT_EQ(bar.grab_end, 1);
    hold_on(5);
    EXPECT_EQ(loop(), "5-6");
    hold_on(9);
    EXPECT_EQ(loop(), "9-10");
    hold_on(16);
    EXPECT_EQ(loop(), "16-17");
    Picture picture(bar.draw(0));
    EXPECT_EQ(look(picture.get()), "ooooooooooooooo-");
}

TEST_F(LoopBarTest, LeavingTheStripPutsTheMarkersDown)
{
    hold_on(8);
    hold_on(9);
    pointer_at(X + 100, Y + 40, 1);
    release_picture(bar.refresh().bitmap);
    EXPECT_EQ(bar.grab_end, 0);
    hold_on(12);
    EXPECT_EQ(loop(), "1-9");
}

TEST_F(LoopBarTest, EdgesOfTheStripAndTheCapture)
{
    pointer_at(X + 239, Y);
    EXPECT_EQ(bar.touched(), 16);
    pointer_at(X + 240, Y);
    EXPECT_EQ(bar.touched(), 0);
    pointer_at(X, Y + 14);
    EXPECT_EQ(bar.touched(), 1);
    pointer_at(X, Y + 15);
    EXPECT_EQ(bar.touched(), 0);
    toset = 3013;
    pointer_at(X + 7, Y + 7, 1);
    EXPECT_EQ(bar.pressed(), 0);
    EXPECT_EQ(bar.refresh().bitmap, nullptr);
}

TEST_F(LoopBarTest, CurrentStepShowsOnlyWithARedrawRequest)
{
    bar.current = 4;
    EXPECT_EQ(bar.refresh().bitmap, nullptr);
    bar.redraw = true;
    Picture picture(bar.refresh());
    ASSERT_NE(picture.get(), nullptr);
    EXPECT_EQ(look(picture.get()), "---*----oooooooo");
    EXPECT_FALSE(bar.redraw);
    EXPECT_EQ(bar.refresh().bitmap, nullptr);
}

TEST_F(LoopBarTest, LedDrawsOnFirstRefreshAndThenOnlyWhenAsked)
{
    Led led(skin, 435, 100);
    blitz_struct first = led.refresh();
    EXPECT_EQ(first.bitmap, skin.buttonled_off);
    EXPECT_EQ(first.x, 435);
    EXPECT_EQ(first.y, 100);
    EXPECT_EQ(first.mode, 0);
    EXPECT_EQ(led.refresh().bitmap, nullptr);
    led.state = 1;
    EXPECT_EQ(led.refresh().bitmap, nullptr);
    led.redraw = true;
    EXPECT_EQ(led.refresh().bitmap, skin.buttonled_on);
    EXPECT_EQ(led.draw().bitmap, skin.buttonled_on);
}

}  // namespace
