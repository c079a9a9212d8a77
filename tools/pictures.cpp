// Pictures of the panel drawn headless with the skin in knobcut/ below the
// working directory, as Windows bitmaps (run by hand, from the top directory):
//
//   pictures first-picture FILE   the whole panel at start, as the tests expect it
//                                 (scripts/golden.sh writes tests/golden/ with it)
//   pictures contact-sheet FILE   every widget in each of its looks, to judge the
//                                 look at a glance
#include "Kalverosin4.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

BITMAP* sheet = nullptr;

// Copies a record onto the sheet at (x, y) as the surface would.
void place(blitz_struct record, int x, int y)
{
    BITMAP* picture = record.bitmap;
    if (record.mode == MaskedCopy)
        masked_blit(picture, sheet, 0, 0, x, y, picture->w, picture->h);
    else
        blit(picture, sheet, 0, 0, x, y, picture->w, picture->h);
    release_picture(picture);
}

void draw_first_picture(Skin& skin)
{
    // The end-to-end tests start the program with the capture driver; its name shows in the cockpit.
    midi_driver = &midi_capture;
    Schirm schirm;
    Sequencer sequencer(schirm, skin);
    sequencer.draw_first_picture();
    blit(schirm.surface, sheet, 0, 0, 0, 0, 640, 480);
    schirm.release();
}

void draw_buttons(Skin& skin)
{
    int x = 20;
    for (int state : {0, 1})
        for (bool hovered : {false, true}) {
            But1 button(1, skin, 0, 0, state);
            mouse_x = hovered ? 7 : -50;
            place(button.draw(0), x, 20);
            x += 20;
        }
    x = 110;
    for (int state = 0; state < 3; ++state)
        for (int hovered = -1; hovered < 3; ++hovered) {
            But3 button(1, skin, 0, 0);
            button.state = state;
            mouse_x = hovered < 0 ? -50 : 7;
            mouse_y = 7 + 15 * (2 - hovered);
            place(button.draw(0), x, 20);
            x += 18;
        }
}

void draw_leds(Skin& skin)
{
    ButLed bar(1, skin, 0, 0);
    for (int current : {0, 3, 12}) {
        bar.current = current;
        place(bar.draw(0), 195, 110 + 20 * (current > 0) + 20 * (current > 8));
    }
    Led led(skin, 0, 0);
    place(led.draw(), 445, 110);
    led.state = 1;
    place(led.draw(), 445, 130);
}

void draw_faders_displays_labels(Skin& skin)
{
    int y = 260;
    for (int length : {72, 120, 144}) {
        for (int value : {0, 50, 100}) {
            Fader fader(1, skin, 0, 0, length, 0, 100, value, 101);
            mouse_x = fader.knob_pos + 7;
            mouse_y = value == 50 ? 7 : -50;
            place(fader.draw(0), 20 + 150 * (value / 50), y);
        }
        y += 20;
    }
    const int numbers[] = {0, 120, 999};
    const int notes[] = {0, 61, 119};  // c 0, c# 5, b 9
    for (int k = 0; k < 3; ++k) {
        place(Dis3(1, skin, 0, 0, numbers[k]).draw(0), 470 + 30 * k, 260);
        place(DisN(1, skin, 0, 0, notes[k]).draw(0), 470 + 30 * k, 280);
    }
    place(Txt(skin, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", 0).draw(), 20, 350);
    place(Txt(skin, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", 1).draw(), 20, 370);
    place(Txt(skin, 0, 0, "KALVEROSIN 4  detected midi driver", 0).draw(), 20, 390);
}

void draw_contact_sheet(Skin& skin)
{
    place(skin.panel(), 0, 0);
    for (int y : {10, 100, 250, 340}) blit(skin.row_panel, sheet, 0, 0, 10, y, 620, 80);
    blit(skin.cock_panel, sheet, 0, 0, 10, 190, 620, 50);
    draw_buttons(skin);
    draw_leds(skin);
    draw_faders_displays_labels(skin);
}

}  // namespace

int main(int argc, char** argv)
{
    bool first = argc == 3 && std::strcmp(argv[1], "first-picture") == 0;
    if (argc != 3 || (!first && std::strcmp(argv[1], "contact-sheet") != 0)) {
        std::fprintf(stderr, "usage: %s first-picture|contact-sheet FILE.bmp\n", argv[0]);
        return 64;
    }
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(16);
    // The layout the X11 driver gives 16-bit colour.
    _rgb_r_shift_16 = 11;
    _rgb_g_shift_16 = 5;
    _rgb_b_shift_16 = 0;
    try {
        Skin skin;
        sheet = create_bitmap(640, 480);
        if (first)
            draw_first_picture(skin);
        else
            draw_contact_sheet(skin);
        if (save_bitmap(argv[2], sheet, nullptr) != 0) {
            std::fprintf(stderr, "pictures: cannot write %s\n", argv[2]);
            return 1;
        }
        destroy_bitmap(sheet);
        skin.release();
    } catch (const SkinError& error) {
        std::fprintf(stderr, "pictures: %s\n", error.what());
        return 1;
    }
    return 0;
}
END_OF_MAIN()
