// Every widget in each of its looks on one picture, written to
// contact-sheet.bmp in the build directory so that the look can be judged at
// a glance; the test checks that the looks it shows really differ.
#include "headless.h"

#include <vector>

namespace {

class ContactSheet : public HeadlessTest {
protected:
    BITMAP* sheet = nullptr;
    int baseline = 0;

    void SetUp() override
    {
        HeadlessTest::SetUp();
        baseline = live_pictures();
        sheet = create_bitmap(640, 480);
        Picture background(skin.panel());
        blit(background.get(), sheet, 0, 0, 0, 0, 640, 480);
        blit(skin.row_panel, sheet, 0, 0, 10, 10, 620, 80);
        blit(skin.row_panel, sheet, 0, 0, 10, 100, 620, 80);
        blit(skin.cock_panel, sheet, 0, 0, 10, 190, 620, 50);
        blit(skin.row_panel, sheet, 0, 0, 10, 250, 620, 80);
        blit(skin.row_panel, sheet, 0, 0, 10, 340, 620, 80);
    }
    void TearDown() override
    {
        destroy_bitmap(sheet);
        HeadlessTest::TearDown();
    }
    // Puts a record on the sheet as the surface would, and keeps its position.
    blitz_struct place(blitz_struct record, int x, int y)
    {
        BITMAP* picture = record.bitmap;
        if (record.mode == 17)
            masked_blit(picture, sheet, 0, 0, x, y, picture->w, picture->h);
        else
            blit(picture, sheet, 0, 0, x, y, picture->w, picture->h);
        release_picture(picture);
        return {picture, x, y, record.mode};
    }
    bool differ(const blitz_struct& a, const blitz_struct& b, int w, int h)
    {
        return !same_pixels(sheet, a.x, a.y, sheet, b.x, b.y, w, h);
    }
};

TEST_F(ContactSheet, ShowsEveryLookOfEveryWidget)
{
    // Toggle button: hovered or not, on or off.
    std::vector<blitz_struct> toggles;
    for (int state : {0, 1})
        for (bool hovered : {false, true}) {
            But1 button(1, skin, 20, 20, state);
            pointer_at(hovered ? 27 : -50, 27);
            toggles.push_back(place(button.draw(0), 20 + 20 * static_cast<int>(toggles.size()), 20));
        }
    for (size_t i = 0; i < toggles.size(); ++i)
        for (size_t j = i + 1; j < toggles.size(); ++j) EXPECT_TRUE(differ(toggles[i], toggles[j], 15, 15));

    // Step button: each cell selected, with and without the pointer on it.
    std::vector<blitz_struct> columns;
    for (int state = 0; state < 3; ++state)
        for (int hovered = -1; hovered < 3; ++hovered) {
            But3 button(1, skin, 0, 0);
            button.state = state;
            pointer_at(hovered < 0 ? -50 : 7, 7 + 15 * (2 - hovered));
            columns.push_back(place(button.draw(0), 110 + 18 * static_cast<int>(columns.size()), 20));
        }
    EXPECT_TRUE(differ(columns[0], columns[4], 15, 45)) << "selected bottom vs middle";
    EXPECT_TRUE(differ(columns[0], columns[1], 15, 45)) << "hover shows";

    // Loop strip: fresh, a lit step inside the loop, a lit step outside it.
    ButLed bar(1, skin, 0, 0);
    blitz_struct fresh = place(bar.draw(0), 195, 110);
    bar.current = 3;
    blitz_struct inside = place(bar.draw(0), 195, 130);
    bar.current = 12;
    place(bar.draw(0), 195, 150);
    EXPECT_TRUE(differ(fresh, inside, 240, 15));
    Led unlit(skin, 445, 110);
    place(unlit.draw(), 445, 110);
    unlit.state = 1;
    place(unlit.draw(), 445, 130);

    // Faders of every length at both ends and in the middle, hovered and not.
    int y = 260;
    for (int length : {72, 120, 144}) {
        for (int value : {0, 50, 100}) {
            Fader fader(1, skin, 0, 0, length, 0, 100, value, 101);
            pointer_at(fader.knob_pos + 7, value == 50 ? 7 : -50);
            place(fader.draw(0), 20 + 150 * (value / 50), y);
        }
        y += 20;
    }

    // Displays: 0, 120, 999 and the notes c0, c#5, b9; labels in both shades.
    int x = 470;
    for (int value : {0, 120, 999}) {
        place(Dis3(1, skin, 0, 0, value).draw(0), x, 260);
        x += 30;
    }
    x = 470;
    for (int value : {0, 61, 119}) {
        place(DisN(1, skin, 0, 0, value).draw(0), x, 280);
        x += 30;
    }
    place(Txt(skin, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", 0).draw(), 20, 350);
    place(Txt(skin, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", 1).draw(), 20, 370);
    place(Txt(skin, 0, 0, "KALVEROSIN 4  detected midi driver", 0).draw(), 20, 390);

    ASSERT_EQ(save_bitmap("contact-sheet.bmp", sheet, nullptr), 0);
    EXPECT_EQ(live_pictures(), baseline);
}

}  // namespace
