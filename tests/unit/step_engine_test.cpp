// Where the play position goes: the step sequences of each direction mode,
// loops edited while playing, and termination from every reachable state.
#include "headless.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int Backward = 0;
constexpr int PingPong = 1;
constexpr int Forward = 2;

class StepEngineTest : public HeadlessTest {
protected:
    Row_Mode row{3000, skin, 10, 75};

    void set_loop(int start, int end, int width, int direction)
    {
        row.loopBar.start = start;
        row.loopBar.end = end;
        row.stepFader.value = width;
        row.directFader.value = direction;
    }
    // The positions of n steps from the current state.
    std::vector<int> steps(int n)
    {
        std::vector<int> positions;
        for (int i = 0; i < n; ++i) {
            row.step();
            positions.push_back(row.loopBar.current);
        }
        return positions;
    }
    std::vector<int> play(int start, int end, int width, int direction, int n)
    {
        set_loop(start, end, width, direction);
        row.ready();
        return steps(n);
    }
    using V = std::vector<int>;
};

TEST_F(StepEngineTest, WidthOneInEveryDirection)
{
    EXPECT_EQ(play(1, 8, 1, Forward, 10), (V{1, 2, 3, 4, 5, 6, 7, 8, 1, 2}));
    EXPECT_EQ(play(1, 8, 1, Backward, 10), (V{8, 7, 6, 5, 4, 3, 2, 1, 8, 7}));
    EXPECT_EQ(play(1, 8, 1, PingPong, 18), (V{1, 2, 3, 4, 5, 6, 7, 8, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2}));
}

TEST_F(StepEngineTest, WiderStepsWrapOrTurnAtTheLastStepReached)
{
    EXPECT_EQ(play(1, 8, 3, Forward, 9), (V{1, 4, 7, 2, 5, 8, 3, 6, 1}));
    EXPECT_EQ(play(1, 8, 3, Backward, 9), (V{8, 5, 2, 7, 4, 1, 6, 3, 8}));
    EXPECT_EQ(play(1, 8, 3, PingPong, 9), (V{1, 4, 7, 7, 4, 1, 1, 4, 7}));
    EXPECT_EQ(play(2, 5, 7, Forward, 5), (V{2, 5, 4, 3, 2}));
    EXPECT_EQ(play(2, 5, 7, Backward, 5), (V{5, 2, 3, 4, 5}));
    EXPECT_EQ(play(5, 6, 3, PingPong, 4), (V{5, 5, 5, 5}));
    EXPECT_EQ(play(1, 16, 16, Forward, 4), (V{1, 1, 1, 1}));
    EXPECT_EQ(play(1, 16, 16, Backward, 3), (V{16, 16, 16}));
}

TEST_F(StepEngineTest, PingPongRestartsUpwardFromTheLoopStart)
{
    play(1, 8, 1, PingPong, 11);
    EXPECT_EQ(row.forward, 0);
    row.loopBar.current = 0;
    row.ready();
    EXPECT_EQ(steps(3), (V{1, 2, 3}));
}

TEST_F(StepEngineTest, LoopEditedUnderARunningRow)
{
    // The end moved below the play position: the next step wraps into the loop.
    play(1, 16, 1, Forward, 12);
    row.loopBar.end = 8;
    EXPECT_EQ(steps(2), (V{5, 6}));

    // The start moved above it: the row walks up through the steps below the loop.
    play(1, 8, 1, Forward, 2);
    row.loopBar.start = 6;
    row.loopBar.end = 9;
    EXPECT_EQ(steps(7), (V{3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(steps(1), (V{6}));
}

TEST_F(StepEngineTest, LoopBarOutOfOrderPlaysBetweenItsMarkers)
{
    EXPECT_EQ(play(10, 8, 1, Forward, 4), (V{8, 9, 10, 8}));
    EXPECT_EQ(play(12, 3, 4, Backward, 4), (V{12, 8, 4, 10}));
    EXPECT_EQ(play(6, 2, 2, PingPong, 6), (V{2, 4, 6, 6, 4, 2}));
}

TEST_F(StepEngineTest, StepSeventeenIsALegalLoopEndThatLightsNothing)
{
    row.stepButtons[15].state = 2;
    EXPECT_EQ(play(16, 17, 1, Forward, 3), (V{16, 17, 16}));
    row.loopBar.current = 16;
    EXPECT_EQ(steps(1), (V{17}));
    EXPECT_EQ(row.led3.state, 1) << "no step button: line 3";
    EXPECT_EQ(row.led1.state, 0);
    Picture bar(row.loopBar.draw(0));
    for (int n = 0; n < 16; ++n)
        EXPECT_FALSE(same_pixels(bar.get(), 15 * n, 0, skin.buttonled_on, 0, 0, 15, 15)) << "cell " << n + 1;
}

TEST_F(StepEngineTest, PingPongOvershootingBothSidesSettlesOnTheNearestLoopEnd)
{
    // Below the loop, travelling up, one width beyond the loop's far end.
    set_loop(5, 6, 9, PingPong);
    row.forward = 1;
    row.loopBar.current = 2;
    EXPECT_EQ(steps(1), (V{5}));
    EXPECT_EQ(row.forward, 1);
    // Above the loop, travelling down, one width below its start.
    row.forward = 0;
    row.loopBar.current = 13;
    EXPECT_EQ(steps(1), (V{6}));
    EXPECT_EQ(row.forward, 0);
    EXPECT_EQ(steps(3), (V{6, 6, 6}));
}

TEST_F(StepEngineTest, TouchingTheDirectKnobTurnsADownwardPingPongRowUp)
{
    play(1, 8, 1, PingPong, 10);
    ASSERT_EQ(row.forward, 0);
    Fader& direct = row.directFader;
    direct.value = 1;
    direct.knob_pos = 52;
    pointer_at(direct.x + 52 + 7, direct.y + 7, 0);
    Picture hover(row.refresh(21));
    ASSERT_NE(hover.get(), nullptr);
    EXPECT_EQ(row.forward, 1);
    EXPECT_EQ(steps(2), (V{8, 8}));
}

// Every start, end, width, direction, travel and position: each step ends,
// and from where it leaves the row, the row enters its loop and stays in it.
TEST(StepEngineExhaustive, EveryStateEndsAndLeadsIntoTheLoop)
{
    long long checked = 0;
    for (int start = 1; start <= 16; ++start)
        for (int end = 1; end <= 17; ++end)
            for (int width = 1; width <= 16; ++width)
                for (int direction = 0; direction <= 2; ++direction)
                    for (int travel = 0; travel <= 1; ++travel)
                        for (int position = -16; position <= 33; ++position) {
                            int low = std::min(start, end);
                            int high = std::max(start, end);
                            int forward = travel;
                            int p = advance_play_position(position, width, direction, start, end, forward);
                            ASSERT_GE(p, std::min(position, low) - width);
                            ASSERT_LE(p, std::max(position, high) + width);
                            ASSERT_TRUE(forward == 0 || forward == 1);
                            int calls = 0;
                            while ((p < low || p > high) && calls < 50) {
                                p = advance_play_position(p, width, direction, start, end, forward);
                                ++calls;
                            }
                            ASSERT_TRUE(p >= low && p <= high)
                                << "start " << start << " end " << end << " width " << width << " direction "
                                << direction << " travel " << travel << " position " << position;
                            for (int i = 0; i < 20; ++i) {
                                p = advance_play_position(p, width, direction, start, end, forward);
                                ASSERT_TRUE(p >= low && p <= high);
                            }
                            ++checked;
                        }
    EXPECT_EQ(checked, 16LL * 17 * 16 * 3 * 2 * 50);
}

TEST_F(StepEngineTest, RowStepFromEveryStateSelectsExactlyOneLine)
{
    for (int k = 0; k < 16; ++k) row.stepButtons[k].state = k % 3;
    for (int end = 1; end <= 17; end += 4)
        for (int direction = 0; direction <= 2; ++direction)
            for (int position = -16; position <= 33; position += 7) {
                set_loop(3, end, 5, direction);
                row.loopBar.current = position;
                row.step();
                int p = row.loopBar.current;
                int state = (p >= 1 && p <= 16) ? (p - 1) % 3 : 0;
                ASSERT_EQ(row.led1.state + row.led2.state + row.led3.state, 1);
                ASSERT_EQ(row.led1.state, state == 2 ? 1 : 0) << p;
                ASSERT_EQ(row.led2.state, state == 1 ? 1 : 0) << p;
                ASSERT_TRUE(row.loopBar.redraw && row.led1.redraw && row.led2.redraw && row.led3.redraw);
            }
}

}  // namespace
