// The toggle button and the three-cell step button, driven frame by frame.
#include "headless.h"

namespace {

class ToggleTest : public HeadlessTest {
protected:
    But1 button{5000, skin, 195, 430, 0};

    // One frame: the button looks at the pointer; returns the record's mode, or -1 for nothing.
    int frame()
    {
        blitz_struct record = button.refresh();
        return record.bitmap ? record.mode : -1;
    }
    void hover() { pointer_at(200, 435, 0); }
};

TEST_F(ToggleTest, HoverRedrawsThenPressTogglesOnceWhileHeld)
{
    hover();
    blitz_struct look = button.refresh();
    EXPECT_EQ(look.bitmap, skin.button_t_up);
    EXPECT_EQ(look.mode, 0);
    EXPECT_EQ(button.get_state(), 0);

    press();
    blitz_struct on = button.refresh();
    EXPECT_EQ(on.bitmap, skin.button_t_p);
    EXPECT_EQ(on.mode, 1);
    EXPECT_EQ(button.get_state(), 1);
    EXPECT_EQ(toset, 5000);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(frame(), -1);
    release();
    EXPECT_EQ(frame(), -1);
    EXPECT_EQ(button.get_state(), 1);
    EXPECT_EQ(button.last_pressed, 0);

    pointer_at(100, 100, 0);
    EXPECT_EQ(button.refresh().bitmap, skin.button_ut_p);
}

// A fresh button toggled on, released, and pressed again k frames after the toggle.
int mode_of_press_after(const Skin& skin, int k)
{
    But1 button(5000, skin, 195, 430, 0);
    pointer_at(200, 435, 0);
    button.refresh();
    press();
    EXPECT_EQ(button.refresh().mode, 1);
    release();
    for (int i = 1; i < k; ++i) button.refresh();
    press();
    blitz_struct record = button.refresh();
    return record.bitmap ? record.mode : -1;
}

TEST_F(ToggleTest, PressesWithinTheLockAreSwallowed)
{
    EXPECT_EQ(mode_of_press_after(skin, 2), -1);
    EXPECT_EQ(mode_of_press_after(skin, 5), -1);
    EXPECT_EQ(mode_of_press_after(skin, 10), -1);
    EXPECT_EQ(mode_of_press_after(skin, 11), 2);
    EXPECT_EQ(mode_of_press_after(skin, 20), 2);

    // A swallowed press stays swallowed while held; the next press counts.
    hover();
    frame();
    press();
    EXPECT_EQ(frame(), 1);
    release();
    frame();
    press();
    for (int i = 0; i < 15; ++i) EXPECT_EQ(frame(), -1);
    release();
    frame();
    press();
    EXPECT_EQ(frame(), 2);
}

TEST_F(ToggleTest, LockStopsCountingOnceItHasRunOut)
{
    hover();
    for (int i = 0; i < 1000; ++i) frame();
    EXPECT_EQ(button.lock, -1);
    press();
    EXPECT_EQ(frame(), 1);
    EXPECT_EQ(button.lock, 10);
    for (int i = 0; i < 1000; ++i) frame();
    EXPECT_EQ(button.lock, -1);
}

TEST_F(ToggleTest, ArrivingWithTheButtonHeldTogglesAfterTheHoverFrame)
{
    pointer_at(100, 100, 1);
    EXPECT_EQ(frame(), -1);
    pointer_at(209, 444, 1);
    EXPECT_EQ(frame(), 0);
    EXPECT_EQ(frame(), 1);
}

TEST_F(ToggleTest, RightButtonWorksAndTheCaptureOfAnotherIdBlocks)
{
    toset = 7000;
    pointer_at(200, 435, 2);
    EXPECT_EQ(button.touched(), 0);
    EXPECT_EQ(frame(), -1);
    EXPECT_EQ(frame(), -1);
    EXPECT_EQ(button.get_state(), 0);
    EXPECT_EQ(toset, 7000);

    toset = 5000;
    EXPECT_EQ(frame(), 0);
    EXPECT_EQ(frame(), 1);

    toset = 0;
    But1 other(5500, skin, 25, 430, 0);
    pointer_at(25, 430, 2);
    EXPECT_EQ(other.refresh().mode, 0);
    blitz_struct on = other.refresh();
    EXPECT_EQ(on.mode, 1);
    EXPECT_EQ(toset, 5500);
}

TEST_F(ToggleTest, FacesAreSharedAndChosenByHoverAndState)
{
    pointer_at(0, 0, 0);
    EXPECT_EQ(button.draw(0).bitmap, skin.button_ut_up);
    EXPECT_EQ(button.draw(7).bitmap, skin.button_ut_up);
    EXPECT_EQ(button.draw(7).mode, 7);
    button.state = 1;
    EXPECT_EQ(button.draw(0).bitmap, skin.button_ut_p);
    pointer_at(195, 430, 0);
    EXPECT_EQ(button.draw(0).bitmap, skin.button_t_p);
    pointer_at(195 + 15, 430, 0);
    EXPECT_EQ(button.draw(0).bitmap, skin.button_ut_p);
}

class StepButtonTest : public HeadlessTest {
protected:
    static constexpr int X = 195;
    static constexpr int Y = 350;
    But3 button{1013, skin, X, Y};

    // The picture the button must show for a hovered cell and a selected state.
    BITMAP* face(int cell, int hovered, int selected)
    {
        if (hovered == cell) return selected == cell ? skin.button_t_p : skin.button_t_up;
        return selected == cell ? skin.button_ut_p : skin.button_ut_up;
    }
    void expect_look(const blitz_struct& record, int hovered, int selected)
    {
        ASSERT_NE(record.bitmap, nullptr);
        ASSERT_EQ(record.bitmap->w, 15);
        ASSERT_EQ(record.bitmap->h, 45);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(same_pixels(record.bitmap, 0, 15 * i, face(2 - i, hovered, selected), 0, 0, 15, 15))
                << "cell " << 2 - i << " hovered " << hovered << " selected " << selected;
    }
};

TEST_F(StepButtonTest, CellsAndTheirEdges)
{
    pointer_at(X + 14, Y + 15);
    EXPECT_EQ(button.touched(), 1);
    pointer_at(X + 15, Y + 15);
    EXPECT_EQ(button.touched(), -1);
    pointer_at(X, Y);
    EXPECT_EQ(button.touched(), 2);
    pointer_at(X, Y + 44);
    EXPECT_EQ(button.touched(), 0);
    pointer_at(X, Y + 45);
    EXPECT_EQ(button.touched(), -1);
    pointer_at(X - 1, Y + 20);
    EXPECT_EQ(button.touched(), -1);
}

TEST_F(StepButtonTest, ClickingACellSelectsItOnceAndShowsIt)
{
    pointer_at(X + 7, Y + 20);
    Picture hover(button.refresh());
    expect_look(hover.record, 1, 0);
    press();
    Picture selected(button.refresh());
    expect_look(selected.record, 1, 1);
    EXPECT_EQ(button.get_state(), 1);
    EXPECT_EQ(toset, 1013);
    release();
    EXPECT_EQ(button.refresh().bitmap, nullptr);
    press();
    EXPECT_EQ(button.refresh().bitmap, nullptr) << "the selected cell again changes nothing";
    release();
    pointer_at(X + 7, Y + 40, 0);
    Picture moved(button.refresh());
    expect_look(moved.record, 0, 1);
    press(2);
    Picture bottom(button.refresh());
    expect_look(bottom.record, 0, 0);
    EXPECT_EQ(button.get_state(), 0);
}

TEST_F(StepButtonTest, DragAcrossButtonsWithTheSameIdSelectsEachOneFrameAfterEntering)
{
    But3 row[4] = {{1013, skin, X, Y}, {1013, skin, X + 15, Y}, {1013, skin, X + 30, Y}, {1013, skin, X + 45, Y}};
    auto frame = [&] {
        for (But3& b : row) release_picture(b.refresh().bitmap);
    };
    pointer_at(X + 3, Y + 3, 0);
    frame();
    press();
    frame();
    EXPECT_EQ(row[0].get_state(), 2);
    for (int k = 1; k < 4; ++k) {
        pointer_at(X + 15 * k + 3, Y + 3, 1);
        frame();
        EXPECT_EQ(row[k].get_state(), 0) << "entering frame only redraws the hover look";
        frame();
        EXPECT_EQ(row[k].get_state(), 2);
    }
    // Down the last column while held: each cell in turn.
    pointer_at(X + 48, Y + 20, 1);
    frame();
    frame();
    EXPECT_EQ(row[3].get_state(), 1);
}

TEST_F(StepButtonTest, CaptureHeldByAnotherIdBlocksAndTheSameIdPasses)
{
    toset = 1012;
    pointer_at(X + 7, Y + 20, 1);
    EXPECT_EQ(button.touched(), -1);
    EXPECT_EQ(button.pressed(), -1);
    EXPECT_EQ(button.refresh().bitmap, nullptr);
    EXPECT_EQ(button.refresh().bitmap, nullptr);
    EXPECT_EQ(button.get_state(), 0);
    toset = 1013;
    release_picture(button.refresh().bitmap);
    release_picture(button.refresh().bitmap);
    EXPECT_EQ(button.get_state(), 1);
}

}  // namespace
