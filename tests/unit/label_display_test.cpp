// Text labels and the two displays, compared pixel by pixel with the skin's glyphs.
#include "headless.h"

#include <utility>
#include <vector>

namespace {

class LabelTest : public HeadlessTest {
protected:
    // True when cell k of the label shows the strip's cell at the given column.
    bool cell_shows(BITMAP* label, int k, BITMAP* strip, int column)
    {
        return same_pixels(label, 7 * k, 0, strip, column, 0, 7, 11);
    }
};

TEST_F(LabelTest, EveryCharacterTakesOneCellAndUnknownOnesStayBlank)
{
    Txt label(skin, 361, 447, "MIDI CHANNEL", 0);
    Picture picture(label.draw());
    ASSERT_EQ(picture->w, 84);
    ASSERT_EQ(picture->h, 11);
    EXPECT_EQ(picture.record.x, 361);
    EXPECT_EQ(picture.record.y, 447);
    EXPECT_EQ(picture.record.mode, 17);
    EXPECT_TRUE(all_mask(picture.get(), 28, 0, 7, 11));
    EXPECT_TRUE(cell_shows(picture.get(), 0, skin.alphabet, ('M' - 'A') * 7));
    EXPECT_TRUE(cell_shows(picture.get(), 11, skin.alphabet, ('L' - 'A') * 7));

    Txt odd(skin, 0, 0, "a-(._\xe9z", 0);
    Picture gaps(odd.draw());
    ASSERT_EQ(gaps->w, 49);
    EXPECT_TRUE(cell_shows(gaps.get(), 0, skin.alphabet, 0));
    for (int k = 1; k <= 5; ++k) EXPECT_TRUE(all_mask(gaps.get(), 7 * k, 0, 7, 11)) << "cell " << k;
    EXPECT_TRUE(cell_shows(gaps.get(), 6, skin.alphabet, 25 * 7));
}

TEST_F(LabelTest, LowerCaseDigitsAndShadesComeFromTheirCells)
{
    Txt lower(skin, 0, 0, "detected midi driver 4", 0);
    Txt upper(skin, 0, 0, "DETECTED MIDI DRIVER 4", 0);
    Picture a(lower.draw());
    Picture b(upper.draw());
    EXPECT_TRUE(same_pixels(a.get(), 0, 0, b.get(), 0, 0, b->w, 11));
    EXPECT_TRUE(cell_shows(a.get(), 21, skin.alphabet, 210));

    Txt shaded(skin, 20, 20, "KALVEROSIN 4", 1);
    Picture title(shaded.draw());
    EXPECT_EQ(title->w, 84);
    EXPECT_TRUE(cell_shows(title.get(), 0, skin.alphabet_shadex, ('K' - 'A') * 7));
    EXPECT_TRUE(cell_shows(title.get(), 11, skin.alphabet_shadex, 210));
    EXPECT_FALSE(cell_shows(title.get(), 0, skin.alphabet, ('K' - 'A') * 7));
}

TEST_F(LabelTest, DrawingTwiceGivesTheSamePictureAndLeavesNothingBehind)
{
    int baseline = live_pictures();
    {
        Txt label(skin, 410, 431, "SPEED", 0);
        Picture first(label.draw());
        Picture second(label.draw());
        EXPECT_NE(first.get(), second.get());
        EXPECT_TRUE(same_pixels(first.get(), 0, 0, second.get(), 0, 0, 35, 11));
    }
    EXPECT_EQ(live_pictures(), baseline);
}

TEST_F(LabelTest, EmptyTextDrawsNothing)
{
    Txt empty(skin, 5, 6, "", 0);
    blitz_struct record = empty.draw();
    EXPECT_EQ(record.bitmap, nullptr);
    Txt none(skin, 5, 6, nullptr, 1);
    EXPECT_EQ(none.draw().bitmap, nullptr);
}

// The picture a display must show: the background with glyphs copied masked.
class DisplayTest : public HeadlessTest {
protected:
    BITMAP* expected = nullptr;
    void TearDown() override
    {
        if (expected) destroy_bitmap(expected);
        HeadlessTest::TearDown();
    }
    BITMAP* display_with(const std::vector<std::pair<BITMAP*, int>>& glyphs)
    {
        if (expected) destroy_bitmap(expected);
        expected = create_bitmap(25, 15);
        blit(skin.display3_plain, expected, 0, 0, 0, 0, 25, 15);
        for (auto [glyph, left] : glyphs) masked_blit(glyph, expected, 0, 0, left, 2, 14, 11);
        return expected;
    }
    BITMAP* digit(int d) { return skin.dd_digit[d]; }
    BITMAP* note(int n) { return skin.dd_note[n]; }
    void expect_dis3(int value, const std::vector<std::pair<BITMAP*, int>>& glyphs)
    {
        Dis3 display(1, skin, 522, 430, value);
        Picture picture(display.draw(0));
        ASSERT_EQ(picture->w, 25);
        ASSERT_EQ(picture->h, 15);
        EXPECT_TRUE(same_pixels(picture.get(), 0, 0, display_with(glyphs), 0, 0, 25, 15)) << "value " << value;
    }
    void expect_disn(int value, const std::vector<std::pair<BITMAP*, int>>& glyphs)
    {
        DisN display(1, skin, 522, 300, value);
        Picture picture(display.draw(0));
        EXPECT_TRUE(same_pixels(picture.get(), 0, 0, display_with(glyphs), 0, 0, 25, 15)) << "note " << value;
    }
};

TEST_F(DisplayTest, ThreeDigitsWithLeadingZerosAndBlanksOutOfRange)
{
    expect_dis3(7, {{digit(0), 2}, {digit(0), 9}, {digit(7), 16}});
    expect_dis3(120, {{digit(1), 2}, {digit(2), 9}, {digit(0), 16}});
    expect_dis3(999, {{digit(9), 2}, {digit(9), 9}, {digit(9), 16}});
    expect_dis3(1234, {{digit(3), 9}, {digit(4), 16}});
    expect_dis3(-5, {{digit(0), 2}, {digit(0), 9}});
    expect_dis3(-125, {});
}

TEST_F(DisplayTest, NoteNameAndOctaveDigit)
{
    expect_disn(60, {{note(0), 2}, {digit(5), 16}});
    expect_disn(61, {{note(1), 2}, {digit(5), 16}});
    expect_disn(11, {{note(11), 2}, {digit(0), 16}});
    expect_disn(12, {{note(0), 2}, {digit(1), 16}});
    expect_disn(36, {{note(0), 2}, {digit(3), 16}});
    expect_disn(119, {{note(11), 2}, {digit(9), 16}});
    expect_disn(127, {{note(7), 2}});
    expect_disn(120, {{note(0), 2}});
    expect_disn(-1, {});
    expect_disn(-11, {});
    expect_disn(-12, {});
    expect_disn(-30, {});
}

TEST_F(DisplayTest, RefreshRedrawsOnlyWhenTheValueChanges)
{
    Dis3 display(6002, skin, 522, 430, 120);
    EXPECT_EQ(display.refresh(120).bitmap, nullptr);
    Picture changed(display.refresh(130));
    ASSERT_NE(changed.get(), nullptr);
    EXPECT_EQ(changed.record.mode, 0);
    EXPECT_EQ(changed.record.x, 522);
    EXPECT_EQ(display.value, 130);
    EXPECT_TRUE(same_pixels(changed.get(), 0, 0, display_with({{digit(1), 2}, {digit(3), 9}, {digit(0), 16}}), 0, 0,
                            25, 15));
    EXPECT_EQ(display.refresh(130).bitmap, nullptr);

    DisN note_display(2007, skin, 522, 270, 36);
    EXPECT_EQ(note_display.refresh(36).bitmap, nullptr);
    Picture moved(note_display.refresh(60));
    EXPECT_NE(moved.get(), nullptr);
    EXPECT_EQ(note_display.refresh(60).bitmap, nullptr);
    Picture drawn(note_display.draw(9));
    EXPECT_EQ(drawn.record.mode, 9);
}

}  // namespace
