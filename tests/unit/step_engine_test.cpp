// Where a row's play position goes, from the start and on, in each direction. Markers out of order
// still bound the loop; the end marker can sit on step 17, which has no button.
#include "headless.h"

namespace {

constexpr int Backward = 0, PingPong = 1, Forward = 2;

TEST_F(HeadlessTest, RowsWrapOrTurnAtTheLastStepTheyReach)
{
    struct Case { int start, end, width, direction; std::vector<int> positions; };
    for (const Case& c : {Case{1, 8, 1, PingPong, {1, 2, 3, 4, 5, 6, 7, 8, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2}},
                          Case{1, 8, 3, PingPong, {1, 4, 7, 7, 4, 1, 1, 4}}, Case{2, 5, 7, Forward, {2, 5, 4, 3, 2}},
                          Case{2, 5, 7, Backward, {5, 2, 3, 4, 5}}, Case{1, 16, 16, Backward, {16, 16, 16}},
                          Case{12, 3, 4, Backward, {12, 8, 4, 10}}, Case{6, 2, 2, PingPong, {2, 4, 6, 6, 4, 2}},
                          Case{16, 17, 1, Forward, {16, 17, 16, 17}}}) {
        Row_Mode row(3000, skin, 10, 75);
        row.loopBar.start = c.start;
        row.loopBar.end = c.end;
        row.stepFader.value = c.width;
        row.directFader.value = c.direction;
        row.stepButtons[15].state = 2;
        row.ready();
        std::vector<int> positions;
        for (size_t i = 0; i < c.positions.size(); ++i) {
            row.step();
            positions.push_back(row.loopBar.current);
        }
        EXPECT_EQ(positions, c.positions) << c.start << "-" << c.end << " width " << c.width << " way " << c.direction;
        EXPECT_EQ(row.led3.state, c.positions.back() != 16 ? 1 : 0) << "step 16 chose line 1, step 17 has none";
    }
}

}  // namespace
