// Faders: rest positions, dragging, snapping, the capture, and odd arguments.
#include "headless.h"

#include <cmath>
#include <set>
#include <vector>

namespace {

struct Config {
    int length, min, max, steps;
    int (*rest)(int v);  // where the knob rests for value v
};

// Every fader of the panel, with the rest positions the panel is built for.
const Config configs[] = {
    {120, 0, 6, 7, [](int v) { return std::vector<int>{0, 17, 35, 52, 70, 87, 105}[v]; }},
    {120, 1, 16, 16, [](int v) { return 7 * (v - 1); }},
    {120, 0, 2, 3, [](int v) { return std::vector<int>{0, 52, 105}[v]; }},
    {144, 0, 127, 128, [](int v) { return v <= 63 ? v : v == 127 ? 129 : v + 1; }},
    {72, 0, 11, 12, [](int v) { return std::vector<int>{0, 5, 10, 15, 20, 25, 31, 36, 41, 46, 51, 57}[v]; }},
    {72, 0, 9, 10, [](int v) { return std::vector<int>{0, 6, 12, 19, 25, 31, 38, 44, 50, 57}[v]; }},
    {72, 4, 24, 21, [](int v) { return 57 * (v - 4) / 20; }},
    {144, 1, 16, 17, [](int v) { return 129 * (v - 1) / 15; }},
};

// The value a knob whose left edge is rel pixels into its travel stands for:
// single-precision grid position, nearest snap position, halfway goes up.
int value_at(const Config& c, int rel)
{
    float f = c.min + static_cast<float>((c.max - c.min) * rel) / (c.length - 15);
    float g = (c.steps - 1) * (f - c.min) / (c.max - c.min);
    int n = (std::ceil(g) - g > g - std::floor(g)) ? static_cast<int>(std::floor(g)) : static_cast<int>(std::ceil(g));
    return (c.max - c.min) * n / (c.steps - 1) + c.min;
}

class FaderTest : public HeadlessTest {
protected:
    static constexpr int X = 450;
    static constexpr int Y = 100;

    Fader make(const Config& c, int value) { return Fader(77, skin, X, Y, c.length, c.min, c.max, value, c.steps); }

    // Hover frame, then the press frame, with the pointer `offset` pixels into the knob.
    blitz_struct grab(Fader& fader, int offset)
    {
        pointer_at(fader.x + fader.knob_pos + offset, fader.y + 7, 0);
        release_picture(fader.refresh().bitmap);
        press();
        return fader.refresh();
    }
    // One frame with the pointer moved so that the knob's left edge would be at rel.
    blitz_struct drag_to(Fader& fader, int rel, int offset = 7)
    {
        pointer_at(fader.x + rel + offset, fader.y + 30, 1);
        return fader.refresh();
    }
};

TEST_F(FaderTest, EveryValueRestsWhereThePanelExpects)
{
    for (const Config& c : configs)
        for (int v = c.min; v <= c.max; ++v)
            EXPECT_EQ(make(c, v).knob_pos, c.rest(v)) << c.length << " " << c.min << ".." << c.max << " value " << v;
}

TEST_F(FaderTest, DraggingSnapsToTheNearestPositionEverywhereAlongTheTravel)
{
    for (const Config& c : configs) {
        Fader fader = make(c, c.min);
        release_picture(grab(fader, 7).bitmap);
        std::set<int> reached;
        for (int rel = 0; rel <= c.length - 15; ++rel) {
            release_picture(drag_to(fader, rel).bitmap);
            int want = value_at(c, rel);
            ASSERT_EQ(fader.value, want) << c.length << " " << c.min << ".." << c.max << " at " << rel;
            ASSERT_EQ(fader.knob_pos, c.rest(want)) << c.length << " " << c.min << ".." << c.max << " at " << rel;
            reached.insert(fader.value);
        }
        EXPECT_EQ(static_cast<int>(reached.size()), c.max - c.min + 1) << "every value can be reached";
    }
}

TEST_F(FaderTest, FullRightAndBackReportTheValueInTheMode)
{
    Fader rate(3002, skin, 75, 100, 120, 0, 6, 4, 7);
    EXPECT_EQ(rate.knob_pos, 70);
    blitz_struct pressed = grab(rate, 7);
    EXPECT_EQ(pressed.bitmap, nullptr) << "a press without movement moves nothing";
    EXPECT_EQ(toset, 3002);

    Picture right(drag_to(rate, 400));
    ASSERT_NE(right.get(), nullptr);
    EXPECT_EQ(right.record.mode, 6);
    EXPECT_EQ(rate.value, 6);
    EXPECT_EQ(rate.knob_pos, 105);
    EXPECT_EQ(drag_to(rate, 500).bitmap, nullptr) << "beyond the end the knob stays";
    EXPECT_EQ(rate.value, 6);

    Picture left(drag_to(rate, -300));
    ASSERT_NE(left.get(), nullptr);
    EXPECT_EQ(left.record.mode, 0);
    EXPECT_EQ(rate.value, 0);
    EXPECT_EQ(rate.knob_pos, 0);
}

TEST_F(FaderTest, TheKnobsLeftmostColumnStartsNoDrag)
{
    Fader dead(3004, skin, 75, 100, 120, 1, 16, 1, 16);
    release_picture(grab(dead, 0).bitmap);
    EXPECT_EQ(dead.grab, 0);
    release_picture(drag_to(dead, 50, 0).bitmap);
    EXPECT_EQ(dead.value, 1);
    EXPECT_EQ(dead.knob_pos, 0);

    Fader live(3004, skin, 75, 100, 120, 1, 16, 1, 16);
    release_picture(grab(live, 1).bitmap);
    EXPECT_EQ(live.grab, 1);
    release_picture(drag_to(live, 49, 1).bitmap);
    EXPECT_EQ(live.value, 8);
    EXPECT_EQ(live.knob_pos, 49);
}

TEST_F(FaderTest, ChannelFaderGivesChannelOneAtItsTwoLeftmostPositions)
{
    const Config& channel = configs[7];
    Fader fader = make(channel, 1);
    release_picture(grab(fader, 7).bitmap);
    for (int rel : {0, 4, 8, 12}) {
        release_picture(drag_to(fader, rel).bitmap);
        EXPECT_EQ(fader.value, 1) << rel;
        EXPECT_EQ(fader.knob_pos, 0) << rel;
    }
    release_picture(drag_to(fader, 16).bitmap);
    EXPECT_EQ(fader.value, 2);
    Picture last(drag_to(fader, 129));
    EXPECT_EQ(fader.value, 16);
    EXPECT_EQ(last.record.mode, 16);
}

TEST_F(FaderTest, DragHoldsTheCaptureAndStaysTouchedFarAway)
{
    Fader value(3006, skin, 450, 100, 144, 0, 127, 64, 128);
    Fader neighbour(3008, skin, 450, 115, 144, 0, 127, 64, 128);
    release_picture(grab(value, 5).bitmap);
    pointer_at(20, 400, 1);
    EXPECT_EQ(value.touched(), 1);
    Picture far(value.draw(0));
    EXPECT_TRUE(same_pixels(far.get(), value.knob_pos, 0, skin.faderknob_t, 0, 0, 15, 15));

    pointer_at(450 + neighbour.knob_pos + 5, 120, 1);
    EXPECT_EQ(neighbour.touched(), 0);
    EXPECT_EQ(neighbour.refresh().bitmap, nullptr);
    EXPECT_EQ(neighbour.value, 64);

    // The same id is not kept out.
    Fader twin(3006, skin, 450, 115, 144, 0, 127, 64, 128);
    EXPECT_EQ(twin.touched(), 1);

    release();
    toset = 0;
    release_picture(value.refresh().bitmap);
    EXPECT_EQ(value.grab, 0);
    Picture idle(value.refresh());
    EXPECT_TRUE(same_pixels(idle.get(), value.knob_pos, 0, skin.faderknob_ut, 0, 0, 15, 15));
}

TEST_F(FaderTest, PictureIsTheTrackWithTheKnobAtItsRestPosition)
{
    Fader octave(2008, skin, 537, 100, 72, 0, 9, 3, 10);
    pointer_at(0, 0, 0);
    Picture plain(octave.draw(0));
    ASSERT_EQ(plain->w, 72);
    ASSERT_EQ(plain->h, 15);
    EXPECT_TRUE(same_pixels(plain.get(), 0, 0, skin.fader_bett_72, 0, 0, 19, 15));
    EXPECT_TRUE(same_pixels(plain.get(), 19, 0, skin.faderknob_ut, 0, 0, 15, 15));
    EXPECT_TRUE(same_pixels(plain.get(), 34, 0, skin.fader_bett_72, 34, 0, 38, 15));

    pointer_at(537 + 19 + 14, 114, 0);
    Picture hover(octave.refresh());
    ASSERT_NE(hover.get(), nullptr);
    EXPECT_EQ(hover.record.mode, 0);
    EXPECT_TRUE(same_pixels(hover.get(), 19, 0, skin.faderknob_t, 0, 0, 15, 15));

    Fader longest(1, skin, 0, 0, 144, 0, 127, 0, 128);
    Picture track(longest.draw(0));
    EXPECT_TRUE(same_pixels(track.get(), 15, 0, skin.fader_bett_144, 15, 0, 129, 15));
    Fader middle(1, skin, 0, 0, 120, 0, 6, 6, 7);
    Picture mid(middle.draw(0));
    EXPECT_TRUE(same_pixels(mid.get(), 0, 0, skin.fader_bett_120, 0, 0, 105, 15));
}

TEST_F(FaderTest, MoveToValueSeventeenComesBackMasked)
{
    Fader value(3010, skin, 450, 100, 144, 0, 127, 64, 128);
    release_picture(grab(value, 7).bitmap);
    Picture moved(drag_to(value, 17));
    ASSERT_NE(moved.get(), nullptr);
    EXPECT_EQ(value.value, 17);
    EXPECT_EQ(moved.record.mode, 17);
}

TEST_F(FaderTest, OddArgumentsNeverDivideByZeroOrLeaveTheTrack)
{
    const Config odd[] = {{50, 0, 10, 11, nullptr},  {10, 0, 10, 11, nullptr},  {15, 0, 10, 11, nullptr},
                          {300, 0, 10, 11, nullptr}, {120, 5, 5, 7, nullptr},   {120, 0, 6, 1, nullptr},
                          {120, 0, 6, 0, nullptr},   {120, 0, 6, -4, nullptr},  {120, 6, 0, 7, nullptr},
                          {72, 0, 127, 128, nullptr}};
    int baseline = live_pictures();
    for (const Config& c : odd) {
        for (int start : {c.min, c.max, c.min - 50, c.max + 50}) {
            Fader fader = make(c, start);
            int low = std::min(c.min, c.max);
            int high = std::max(c.min, c.max);
            EXPECT_GE(fader.knob_pos, 0);
            EXPECT_LE(fader.knob_pos, fader.length - 15);
            release_picture(grab(fader, 3).bitmap);
            for (int rel = -20; rel <= 320; rel += 3) {
                Picture picture(drag_to(fader, rel, 3));
                ASSERT_GE(fader.value, low) << c.length << " " << c.min << ".." << c.max << "/" << c.steps;
                ASSERT_LE(fader.value, high) << c.length << " " << c.min << ".." << c.max << "/" << c.steps;
                ASSERT_GE(fader.knob_pos, 0);
                ASSERT_LE(fader.knob_pos, fader.length - 15);
                if (picture.get()) {
                    ASSERT_EQ(picture->w, fader.length);
                }
            }
            release();
            release_picture(fader.refresh().bitmap);
        }
    }
    EXPECT_EQ(live_pictures(), baseline);
}

}  // namespace
