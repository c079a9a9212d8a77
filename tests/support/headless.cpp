#include "headless.h"

Skin& real_skin()
{
    EXPECT_TRUE(start_headless_allegro());
    static Skin skin(KNOBCUT_PARENT);
    return skin;
}

std::vector<int> MidiRecorder::bytes;

MIDI_DRIVER MidiRecorder::driver = {
    AL_ID('R', 'E', 'C', 'D'), "MIDI capture", "", "MIDI capture", 16, 0, 16, 16, -1, -1, [](int) { return TRUE; },
    [](int, int) { return 0; }, [](int) {}, nullptr, nullptr, [](int data) { MidiRecorder::bytes.push_back(data); },
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::vector<Message> SequencerTest::sent()
{
    std::vector<Message> out;
    const std::vector<int>& bytes = MidiRecorder::bytes;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) out.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    EXPECT_EQ(bytes.size() % 3, 0u) << "a message was cut short";
    return out;
}

int differing_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h)
{
    int count = 0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) count += getpixel(got, gx + i, gy + j) != getpixel(want, wx + i, wy + j);
    return count;
}

BITMAP* golden_first_picture()
{
    start_headless_allegro();
    static BITMAP* golden = load_bitmap(SOURCE_DIR "/tests/golden/first-picture.bmp", nullptr);
    return golden;
}

std::vector<FaderRange> panel_faders(Sequencer& s)
{
    std::vector<FaderRange> all;
    auto row = [&](auto& r, std::vector<Fader*> lines, int high) {
        all.insert(all.end(), {{&r.rateFader, 0, 6, 7}, {&r.stepFader, 1, 16, 16}, {&r.directFader, 0, 2, 3}});
        for (Fader* line : lines) all.push_back({line, 0, high, high + 1});
    };
    for (Row_Mode* r : {&s.upperControllerRow, &s.lowerControllerRow})
        row(*r, {&r->lines.controllerFader, &r->lines.valueFader1, &r->lines.valueFader2, &r->lines.valueFader3}, 127);
    Row_Gate& g = s.gateRow;
    row(g, {&g.lines.velocityFader1, &g.lines.velocityFader2, &g.lines.velocityFader3}, 127);
    Row_Note& n = s.noteRow;
    row(n, {&n.lines.noteFader1, &n.lines.noteFader2, &n.lines.noteFader3}, 11);
    for (Fader* octave : {&n.lines.octaveFader1, &n.lines.octaveFader2, &n.lines.octaveFader3}) all.push_back({octave, 0, 9, 10});
    // The channel fader's two leftmost positions both give channel 1.
    Cockpit& c = s.cockpit;
    all.insert(all.end(), {{&c.speedTensFader, 4, 24, 21}, {&c.speedUnitsFader, 0, 9, 10}});
    all.push_back({&c.channelFader, 1, 16, 17});
    return all;
}

std::vector<int> SequencerTest::installedPeriods;

void SequencerTest::SetUp()
{
    HeadlessTest::SetUp();
    MidiRecorder::clear();
    midi_driver = &MidiRecorder::driver;
    installedPeriods.clear();
    installTickPeriod = [](int period) { installedPeriods.push_back(period); };
    timerCounter = 0;
    timerCounter_last = -1;
    FrameTimer = 0;
    exitnow = false;
    screen = create_bitmap(640, 480);
    schirm = new Schirm();
    sequencer = new Sequencer(*schirm, skin);
    sequencer->draw_first_picture();
}

void SequencerTest::TearDown()
{
    delete sequencer;
    schirm->release();
    delete schirm;
    destroy_bitmap(screen);
    screen = nullptr;
    HeadlessTest::TearDown();
}

// Every picture drawn in a frame is given back within it.
void SequencerTest::frame()
{
    int pictures = live_pictures();
    FrameTimer = 1;
    sequencer->pass();
    EXPECT_EQ(live_pictures(), pictures);
}

void SequencerTest::tick_pass(int t)
{
    timerCounter = t;
    FrameTimer = 0;
    sequencer->pass();
}

void SequencerTest::click(int x, int y)
{
    pointer_at(x, y, 0);
    frame();
    press();
    frame();
    release();
    frame();
}

void SequencerTest::grab(Fader& fader, int offset)
{
    pointer_at(fader.x + fader.knob_pos + offset, fader.y + 7);
    frame();
    press();
    frame();
}

void SequencerTest::drag(Fader& fader, int v)
{
    grab(fader);
    int step = v < fader.value ? -1 : 1;
    for (int x = mouse_x; fader.value != v && x >= fader.x && x < fader.x + fader.length + 7; x += step) {
        pointer_at(x, fader.y + 7, 1);
        frame();
    }
    ASSERT_EQ(fader.value, v);
    release();
    frame();
}
