// The three row classes at the places the panel puts them: their item tables,
// the values their steps yield, their controls and the shared widget ids.
#include "headless.h"

#include <string>
#include <vector>

namespace {

struct Item {
    int index, x, y, w, h, mode;
};

class RowTest : public HeadlessTest {
protected:
    Row_Mode upper{3000, skin, 10, 75};
    Row_Mode lower{3000, skin, 10, 155};
    Row_Gate gate{1000, skin, 10, 325};
    Row_Note note{2000, skin, 10, 245};

    // One frame of a row: every refreshed item, pictures released.
    template <class Row>
    void frame(Row& row, int count)
    {
        for (int i = 0; i < count; ++i) release_picture(row.refresh(i).bitmap);
    }
    template <class Row>
    void expect_items(Row& row, const std::vector<Item>& items)
    {
        for (const Item& item : items) {
            Picture picture(row.draw(item.index));
            ASSERT_NE(picture.get(), nullptr) << "item " << item.index;
            EXPECT_EQ(picture.record.x, item.x) << "item " << item.index;
            EXPECT_EQ(picture.record.y, item.y) << "item " << item.index;
            EXPECT_EQ(picture->w, item.w) << "item " << item.index;
            EXPECT_EQ(picture->h, item.h) << "item " << item.index;
            EXPECT_EQ(picture.record.mode, item.mode) << "item " << item.index;
        }
    }
    template <class Row>
    void expect_nothing_at(Row& row, const std::vector<int>& drawn, const std::vector<int>& refreshed)
    {
        for (int i : drawn) EXPECT_EQ(row.draw(i).bitmap, nullptr) << "draw " << i;
        for (int i : refreshed) EXPECT_EQ(row.refresh(i).bitmap, nullptr) << "refresh " << i;
    }
    // Drags a fader's knob with the pointer until its value is v.
    template <class Row>
    void drag_fader(Row& row, int count, Fader& fader, int v)
    {
        pointer_at(fader.x + fader.knob_pos + 7, fader.y + 7, 0);
        frame(row, count);
        press();
        frame(row, count);
        for (int rel = 0; rel <= fader.length - 15 && fader.value != v; ++rel) {
            pointer_at(fader.x + rel + 7, fader.y + 7, 1);
            frame(row, count);
        }
        ASSERT_EQ(fader.value, v);
        release();
        frame(row, count);
    }
};

TEST_F(RowTest, CommonItemsStandWhereTheRowPutsThem)
{
    std::vector<Item> common = {{0, 195, 100, 15, 45, 0},  {15, 420, 100, 15, 45, 0}, {16, 195, 85, 240, 15, 0},
                                {17, 50, 100, 25, 15, 0},  {18, 50, 115, 25, 15, 0},  {19, 75, 100, 120, 15, 0},
                                {20, 75, 115, 120, 15, 0}, {21, 75, 130, 120, 15, 0}};
    expect_items(upper, common);
    for (Item& item : common) item.y += 325 - 75;
    expect_items(gate, common);
    for (Item& item : common) item.y += 245 - 325;
    expect_items(note, common);
}

TEST_F(RowTest, ControllerRowItems)
{
    expect_items(upper, {{22, 450, 100, 144, 15, 0}, {24, 450, 130, 144, 15, 0}, {25, 594, 100, 25, 15, 0},
                         {27, 594, 130, 25, 15, 0},  {28, 18, 103, 28, 11, 17},  {30, 18, 133, 42, 11, 17},
                         {33, 435, 130, 15, 15, 0},  {34, 18, 83, 70, 11, 17},   {35, 450, 85, 144, 15, 0},
                         {36, 594, 85, 25, 15, 0}});
    expect_nothing_at(upper, {-1, 37, 38, 100}, {-1, 28, 29, 30, 36, 37, 99});
    EXPECT_EQ(upper.items, 37);
    blitz_struct panel = upper.drawpanel();
    EXPECT_EQ(panel.bitmap, skin.row_panel);
    EXPECT_EQ(panel.x, 10);
    EXPECT_EQ(panel.y, 75);
}

TEST_F(RowTest, GateRowItems)
{
    expect_items(gate, {{22, 450, 350, 144, 15, 0}, {26, 594, 365, 25, 15, 0}, {29, 18, 368, 28, 11, 17},
                        {31, 435, 350, 15, 15, 0},  {34, 18, 333, 56, 11, 17}});
    expect_nothing_at(gate, {-5, 35, 36, 37}, {28, 29, 30, 34, 35, 36, 200});
    EXPECT_EQ(gate.items, 35);
}

TEST_F(RowTest, NoteRowItems)
{
    expect_items(note, {{22, 450, 270, 72, 15, 0},  {25, 547, 270, 72, 15, 0}, {27, 547, 300, 72, 15, 0},
                        {28, 522, 270, 25, 15, 0},  {30, 522, 300, 25, 15, 0}, {31, 18, 273, 28, 11, 17},
                        {33, 18, 303, 42, 11, 17},  {34, 435, 270, 15, 15, 0}, {36, 435, 300, 15, 15, 0},
                        {37, 18, 253, 28, 11, 17}});
    expect_nothing_at(note, {38, 39, -1}, {34, 35, 36, 37, 38});
    EXPECT_EQ(note.items, 38);
}

TEST_F(RowTest, ControllerAndGateStepsYieldTheSelectedLinesValue)
{
    upper.valueFader1.value = 100;
    upper.valueFader2.value = 0;
    upper.valueFader3.value = 127;
    gate.velocityFader1.value = 1;
    gate.velocityFader2.value = 0;
    gate.velocityFader3.value = 90;
    upper.stepButtons[0].state = 2;
    upper.stepButtons[1].state = 1;
    gate.stepButtons[0].state = 2;
    gate.stepButtons[1].state = 1;
    upper.ready();
    gate.ready();
    std::vector<int> values, velocities;
    for (int i = 0; i < 4; ++i) {
        values.push_back(upper.step());
        velocities.push_back(gate.step());
    }
    EXPECT_EQ(values, (std::vector<int>{100, 0, 127, 127}));
    EXPECT_EQ(velocities, (std::vector<int>{1, 0, 90, 90}));
    EXPECT_EQ(gate.led3.state, 1);
    EXPECT_EQ(gate.led1.state + gate.led2.state, 0);
}

TEST_F(RowTest, NoteStepsYieldNoteNumbersFromTheirFaders)
{
    note.stepButtons[0].state = 2;
    note.stepButtons[1].state = 1;
    note.octaveFader1.value = 5;
    note.noteFader1.value = 0;
    note.octaveFader2.value = 9;
    note.noteFader2.value = 11;
    note.octaveFader3.value = 0;
    note.noteFader3.value = 0;
    note.ready();
    EXPECT_EQ(note.step(), 60);
    EXPECT_EQ(note.led1.state, 1);
    EXPECT_EQ(note.step(), 119);
    EXPECT_EQ(note.led2.state, 1);
    EXPECT_EQ(note.step(), 0);
    EXPECT_EQ(note.led3.state, 1);

    Row_Note fresh(2000, skin, 10, 245);
    fresh.ready();
    for (int i = 0; i < 9; ++i) EXPECT_EQ(fresh.step(), 36);
    EXPECT_EQ(fresh.loopBar.current, 1);
}

TEST_F(RowTest, NoteDisplayFollowsItsFadersInTheSameFrame)
{
    Fader& octave = note.octaveFader1;
    pointer_at(octave.x + octave.knob_pos + 7, octave.y + 7, 0);
    frame(note, 37);
    press();
    frame(note, 37);
    pointer_at(octave.x + 38 + 7, octave.y + 7, 1);
    for (int i = 0; i < 37; ++i) {
        Picture picture(note.refresh(i));
        if (i == 28) {
            ASSERT_NE(picture.get(), nullptr) << "the display redraws in the frame of the move";
            EXPECT_EQ(picture.record.x, 522);
        }
    }
    EXPECT_EQ(octave.value, 6);
    EXPECT_EQ(note.noteDis1.value, 72);
    EXPECT_EQ(note.step(), 36) << "line 3 is untouched";
}

TEST_F(RowTest, RateFaderSetsTicksPerStepAndTheDisplay)
{
    const int rates[] = {192, 96, 48, 24, 12, 6, 3};
    for (int v : {0, 6, 3, 5, 1, 2, 4}) {
        drag_fader(gate, 34, gate.rateFader, v);
        EXPECT_EQ(gate.rate, rates[v]) << v;
        EXPECT_EQ(gate.rateDis.value, 1 << v) << v;
    }
}

TEST_F(RowTest, StepAndDirectFadersSteerTheEngine)
{
    drag_fader(upper, 34, upper.stepFader, 3);
    EXPECT_EQ(upper.stepDis.value, 3);
    drag_fader(upper, 34, upper.directFader, 0);
    EXPECT_EQ(upper.forward, 0);
    upper.ready();
    EXPECT_EQ(upper.step(), 64);
    EXPECT_EQ(upper.loopBar.current, 8);
    EXPECT_EQ(upper.step(), 64);
    EXPECT_EQ(upper.loopBar.current, 5);
}

TEST_F(RowTest, DragAcrossTheStepButtonsSetsEveryCellCrossed)
{
    pointer_at(10 + 185 + 7, 245 + 25 + 7, 0);
    frame(note, 37);
    press();
    for (int k = 0; k < 16; ++k) {
        pointer_at(10 + 185 + 15 * k + 7, 245 + 25 + 7, 1);
        frame(note, 37);
        frame(note, 37);
    }
    for (int k = 0; k < 16; ++k) EXPECT_EQ(note.stepButtons[k].get_state(), 2) << "step " << k + 1;
    release();
    frame(note, 37);
    EXPECT_EQ(toset, 0);
}

TEST_F(RowTest, ControllerRowsShareTheirIdsAndOtherRowsDoNot)
{
    // A drag from the upper row's step 1 down into the lower row's step 1.
    pointer_at(195 + 7, 100 + 7, 0);
    frame(upper, 36);
    frame(lower, 36);
    press();
    frame(upper, 36);
    frame(lower, 36);
    EXPECT_EQ(upper.stepButtons[0].get_state(), 2);
    pointer_at(195 + 7, 180 + 22, 1);
    for (int i = 0; i < 2; ++i) {
        frame(upper, 36);
        frame(lower, 36);
    }
    EXPECT_EQ(lower.stepButtons[0].get_state(), 1) << "same id: the capture lets the lower row act";

    // On into the note row: another id, nothing happens there.
    pointer_at(195 + 7, 270 + 22, 1);
    for (int i = 0; i < 2; ++i) {
        frame(lower, 36);
        frame(note, 37);
    }
    EXPECT_EQ(note.stepButtons[0].get_state(), 0);
    release();
    frame(note, 37);
    EXPECT_EQ(toset, 0) << "every row releases the capture when no button is down";
}

TEST_F(RowTest, FirstFrameDrawsTheLedsAndStepsRequestRedraws)
{
    std::vector<int> drawn;
    for (int i = 0; i < 34; ++i) {
        Picture picture(gate.refresh(i));
        if (picture.get()) drawn.push_back(i);
    }
    EXPECT_EQ(drawn, (std::vector<int>{31, 32, 33}));
    frame(gate, 34);
    gate.ready();
    gate.step();
    Picture bar(gate.refresh(16));
    ASSERT_NE(bar.get(), nullptr);
    EXPECT_TRUE(same_pixels(bar.get(), 0, 0, skin.buttonled_on, 0, 0, 15, 15));
    EXPECT_EQ(gate.refresh(33).bitmap, skin.buttonled_on);
    EXPECT_EQ(gate.refresh(31).bitmap, skin.buttonled_off);
}

}  // namespace
