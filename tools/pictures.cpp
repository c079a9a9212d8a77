// Pictures of the panel drawn headless with the skin in knobcut/ below the
// working directory, as Windows bitmaps (run by hand, from the top directory):
//
//   pictures first-picture FILE   the whole panel at start, as the tests expect it
//                                 (scripts/golden.sh writes tests/golden/ with it)
//   pictures contact-sheet FILE   every widget in each of its looks, to judge the
//                                 look at a glance
//   pictures layout               where the controls stand at start, one per line:
//                                 name x y, and for a fader also its length and
//                                 the x of its knob (scripts press by these names)
//   pictures icon FILE            the program's icon, 64 x 64: four steps of a row
//                                 (scripts/icons.sh makes desktop/icons/ of it)
#include "Kalverosin4.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

void print_place(const std::string& name, int x, int y) { std::printf("%s %d %d\n", name.c_str(), x, y); }
void print_fader(const std::string& name, const Fader& f)
{
    std::printf("%s %d %d %d %d\n", name.c_str(), f.x, f.y, f.length, f.x + f.knob_pos);
}

template <class Lines>
void print_row(const std::string& name, Row<Lines>& row, const std::array<Fader*, 3>& lineFaders)
{
    print_fader(name + ".rate-fader", row.rateFader);
    print_fader(name + ".step-fader", row.stepFader);
    print_fader(name + ".direct-fader", row.directFader);
    for (int line = 0; line < 3; ++line)
        print_fader(name + ".line-" + std::to_string(line + 1) + "-fader", *lineFaders[line]);
    print_place(name + ".loop-bar", row.loopBar.x, row.loopBar.y);
    for (int k = 0; k < StepsPerRow; ++k)
        print_place(name + ".step-" + std::to_string(k + 1), row.stepButtons[k].x, row.stepButtons[k].y);
}

void print_layout(Skin& skin)
{
    for (const PanelPlace& place : PanelLayout) print_place(place.name, place.x, place.y);
    Schirm schirm;
    Sequencer s(schirm, skin);
    print_fader("speed-tens-fader.knob", s.cockpit.speedTensFader);
    print_fader("speed-units-fader.knob", s.cockpit.speedUnitsFader);
    print_fader("channel-fader.knob", s.cockpit.channelFader);
    for (auto* row : {&s.upperControllerRow, &s.lowerControllerRow}) {
        ControllerLines& l = row->lines;
        std::string name = row == &s.upperControllerRow ? "upper-controller-row" : "lower-controller-row";
        print_row(name, *row, {&l.valueFader1, &l.valueFader2, &l.valueFader3});
        print_fader(name + ".controller-fader", l.controllerFader);
    }
    NoteLines& n = s.noteRow.lines;
    print_row("note-row", s.noteRow, {&n.noteFader1, &n.noteFader2, &n.noteFader3});
    print_fader("note-row.line-1-octave-fader", n.octaveFader1);
    print_fader("note-row.line-2-octave-fader", n.octaveFader2);
    print_fader("note-row.line-3-octave-fader", n.octaveFader3);
    VelocityLines& v = s.gateRow.lines;
    print_row("velocity-row", s.gateRow, {&v.velocityFader1, &v.velocityFader2, &v.velocityFader3});
    schirm.release();
}

void draw_icon(Skin& skin)
{
    constexpr int Margin = 2, Steps = 4, Playing = 3;
    constexpr int States[Steps] = {0, 1, 2, 1};  // bottom, middle, top, middle cell
    // The steps' place in a row's picture, with the margin around them.
    blit(skin.row_panel, sheet, 185 - Margin, 10 - Margin, 0, 0, sheet->w, sheet->h);
    ButLed bar(1, skin, Margin, Margin);
    bar.current = Playing;
    blitz_struct leds = bar.draw(0);
    blit(leds.bitmap, sheet, 0, 0, Margin, Margin, Steps * 15, 15);
    release_picture(leds.bitmap);
    mouse_x = -50;
    for (int k = 0; k < Steps; ++k) {
        But3 button(2, skin, 0, 0);
        button.state = States[k];
        place(button.draw(0), Margin + 15 * k, Margin + 15);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool layout = argc == 2 && std::strcmp(argv[1], "layout") == 0;
    bool first = argc == 3 && std::strcmp(argv[1], "first-picture") == 0;
    bool icon = argc == 3 && std::strcmp(argv[1], "icon") == 0;
    if (!layout && (argc != 3 || (!first && !icon && std::strcmp(argv[1], "contact-sheet") != 0))) {
        std::fprintf(stderr, "usage: %s first-picture|contact-sheet|icon FILE.bmp | layout\n", argv[0]);
        return 64;
    }
    if (!start_headless_allegro()) {
        std::fprintf(stderr, "pictures: Allegro did not start: %s\n", allegro_error);
        return 1;
    }
    try {
        Skin skin;
        if (layout) {
            print_layout(skin);
            skin.release();
            return 0;
        }
        if (first) {
            sheet = draw_first_picture(skin);
        } else if (icon) {
            sheet = create_bitmap(64, 64);
            draw_icon(skin);
        } else {
            sheet = create_bitmap(640, 480);
            draw_contact_sheet(skin);
        }
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
