#include "headless.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

// Other tests of the same process may have started Allegro already, with other
// colour settings: the depth and layout are set every time.
void start_headless_allegro()
{
    if (!system_driver) {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    }
    set_color_depth(16);
    // The X11 driver switches 16-bit colour to RGB 565; so do the tests.
    _rgb_r_shift_16 = 11;
    _rgb_g_shift_16 = 5;
    _rgb_b_shift_16 = 0;
}

Skin& real_skin()
{
    start_headless_allegro();
    static Skin skin(KNOBCUT_PARENT);
    return skin;
}

void pointer_at(int x, int y, int buttons)
{
    mouse_x = x;
    mouse_y = y;
    mouse_b = buttons;
}

void press(int buttons) { mouse_b = buttons; }
void release() { mouse_b = 0; }

std::vector<int> MidiRecorder::bytes;

namespace {

int recorder_detect(int) { return TRUE; }
int recorder_init(int, int) { return 0; }
void recorder_exit(int) {}
void recorder_raw_midi(int data) { MidiRecorder::bytes.push_back(data); }

}  // namespace

MIDI_DRIVER MidiRecorder::driver = {
    AL_ID('R', 'E', 'C', 'D'), "Recorder", "Recorder", "Recorder", 16, 0, 16, 16, -1, -1,
    recorder_detect, recorder_init, recorder_exit, nullptr, nullptr, recorder_raw_midi,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

void MidiRecorder::install()
{
    midi_driver = &driver;
    bytes.clear();
}

std::vector<Message> MidiRecorder::messages()
{
    std::vector<Message> out;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) out.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    EXPECT_EQ(bytes.size() % 3, 0u) << "a message was cut short";
    return out;
}

int pixel(BITMAP* bitmap, int x, int y) { return getpixel(bitmap, x, y); }

int differing_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h)
{
    int count = 0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            if (getpixel(got, gx + i, gy + j) != getpixel(want, wx + i, wy + j)) ++count;
    return count;
}

bool same_pixels(BITMAP* got, int gx, int gy, BITMAP* want, int wx, int wy, int w, int h)
{
    return differing_pixels(got, gx, gy, want, wx, wy, w, h) == 0;
}

bool all_mask(BITMAP* bitmap, int x, int y, int w, int h)
{
    int mask = makecol(255, 0, 255);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            if (getpixel(bitmap, x + i, y + j) != mask) return false;
    return true;
}

std::string save_for_inspection(BITMAP* bitmap, const std::string& name)
{
    mkdir("test-pictures", 0755);
    std::string path = "test-pictures/" + name + ".bmp";
    save_bitmap(path.c_str(), bitmap, nullptr);
    return path;
}

HeadlessTest::HeadlessTest() : skin(real_skin()) {}

void HeadlessTest::SetUp()
{
    toset = 0;
    pointer_at(-100, -100, 0);
}

void HeadlessTest::TearDown() { pointer_at(-100, -100, 0); }

std::vector<int> SequencerTest::installedPeriods;

void SequencerTest::SetUp()
{
    HeadlessTest::SetUp();
    MidiRecorder::install();
    installedPeriods.clear();
    installTickPeriod = [](int period) { installedPeriods.push_back(period); };
    timerCounter = 0;
    timerCounter_last = -1;
    FrameTimer = 0;
    exitnow = false;
    // A memory bitmap stands in for the window.
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

void SequencerTest::frame()
{
    FrameTimer = 1;
    sequencer->pass();
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

std::string stderr_of(const std::function<void()>& code)
{
    std::fflush(stderr);
    std::FILE* said = std::tmpfile();
    int saved = dup(fileno(stderr));
    dup2(fileno(said), fileno(stderr));
    code();
    std::fflush(stderr);
    dup2(saved, fileno(stderr));
    close(saved);
    std::string text;
    std::rewind(said);
    for (int c; (c = std::fgetc(said)) != EOF;) text += static_cast<char>(c);
    std::fclose(said);
    return text;
}
