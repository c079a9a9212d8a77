// What one frame of the main loop costs, and its parts: the whole panel in
// memory (Allegro without a display, the X11 window's RGB 565 layout, the real
// skin), a MIDI driver that only counts bytes, and no tick timer.
#include "Kalverosin4.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

long sentBytes = 0;

int counter_detect(int) { return TRUE; }
int counter_init(int, int) { return 0; }
void counter_exit(int) {}
void counter_raw_midi(int) { ++sentBytes; }

MIDI_DRIVER counting_driver = {
    AL_ID('C', 'N', 'T', 'B'), "Counter", "Counter", "Counter", 16, 0, 16, 16, -1, -1,
    counter_detect, counter_init, counter_exit, nullptr, nullptr, counter_raw_midi,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

void start_counting_headless()
{
    if (!start_headless_allegro()) {
        std::fprintf(stderr, "Allegro did not start: %s\n", allegro_error);
        std::exit(EXIT_FAILURE);
    }
    midi_driver = &counting_driver;
    installTickPeriod = [](int) {};
}

// One panel for every case, built once: loading the skin is not what is measured.
struct Panel {
    Schirm schirm;
    Sequencer sequencer;

    Panel() : schirm(), sequencer(schirm, Skin(KNOBCUT_PARENT)) { sequencer.draw_first_picture(); }
};

Panel& panel()
{
    static Panel* shared = [] {
        screen = create_bitmap(640, 480);
        return new Panel();
    }();
    return *shared;
}

// Where the pointer hovers nothing: the strip that binds the rows.
void park_pointer()
{
    mouse_x = 320;
    mouse_y = 238;
    mouse_b = 0;
    toset = 0;
}

void frame_pass(Sequencer& sequencer)
{
    FrameTimer = 1;
    sequencer.pass();
}

void BM_IdleFrame(benchmark::State& state)
{
    Sequencer& sequencer = panel().sequencer;
    park_pointer();
    frame_pass(sequencer);
    for (auto _ : state) frame_pass(sequencer);
}
BENCHMARK(BM_IdleFrame);

// The pointer swings between two places far enough apart that every frame
// moves the knob, as a quick hand does.
void BM_FaderDragFrame(benchmark::State& state)
{
    Sequencer& sequencer = panel().sequencer;
    Fader& fader = sequencer.gateRow.lines.velocityFader1;
    park_pointer();
    frame_pass(sequencer);
    mouse_x = fader.x + fader.knob_pos + 3;
    mouse_y = fader.y + 7;
    frame_pass(sequencer);
    mouse_b = 1;
    frame_pass(sequencer);
    const int swing[2] = {fader.x + 20, fader.x + fader.length - 20};
    int side = fader.knob_pos < fader.length / 2 ? 1 : 0;
    int knobMoves = 0;
    for (auto _ : state) {
        int before = fader.knob_pos;
        mouse_x = swing[side];
        side ^= 1;
        frame_pass(sequencer);
        knobMoves += fader.knob_pos != before;
    }
    state.counters["knob_moves_per_frame"] = static_cast<double>(knobMoves) / static_cast<double>(state.iterations());
    park_pointer();
    frame_pass(sequencer);
}
BENCHMARK(BM_FaderDragFrame);

void BM_SurfaceCopy(benchmark::State& state)
{
    Schirm& schirm = panel().schirm;
    for (auto _ : state) schirm.refresh();
}
BENCHMARK(BM_SurfaceCopy);

template <class Row>
void step_row(benchmark::State& state, Row& row)
{
    for (auto _ : state) benchmark::DoNotOptimize(row.step());
}

void BM_RowModeStep(benchmark::State& state) { step_row(state, panel().sequencer.upperControllerRow); }
void BM_RowGateStep(benchmark::State& state) { step_row(state, panel().sequencer.gateRow); }
void BM_RowNoteStep(benchmark::State& state) { step_row(state, panel().sequencer.noteRow); }
BENCHMARK(BM_RowModeStep);
BENCHMARK(BM_RowGateStep);
BENCHMARK(BM_RowNoteStep);

// The tick on a bar line alone, the bar before it played untimed: with a pattern chosen (patterns on),
// the tick switches the rows to it; without, it only steps them. Both pass through the main loop.
void bar_line_tick(benchmark::State& state, bool switching)
{
    Sequencer& sequencer = panel().sequencer;
    park_pointer();
    sequencer.patterns.on = true;
    sequencer.cockpit.startstopButton.state = 1;
    FrameTimer = 0;
    int t = timerCounter.load();
    for (auto _ : state) {
        state.PauseTiming();
        while (++t % BarTicks != 0) {
            timerCounter = t;
            sequencer.pass();
        }
        if (switching) sequencer.patterns.choose(sequencer, (sequencer.patterns.bank.playing + 1) % 2);
        timerCounter = t;
        state.ResumeTiming();
        sequencer.pass();
    }
    sequencer.cockpit.startstopButton.state = 0;
    sequencer.patterns.on = false;
}

void BM_BarLineTick(benchmark::State& state) { bar_line_tick(state, false); }
void BM_BarLineTickSwitching(benchmark::State& state) { bar_line_tick(state, true); }
BENCHMARK(BM_BarLineTick);
BENCHMARK(BM_BarLineTickSwitching);

// The frame after a switch, which draws the four rows anew (stopped, so that a click switches at once).
void BM_FrameAfterSwitch(benchmark::State& state)
{
    Sequencer& sequencer = panel().sequencer;
    park_pointer();
    sequencer.patterns.on = true;
    for (auto _ : state) {
        sequencer.patterns.choose(sequencer, (sequencer.patterns.bank.playing + 1) % 2);
        frame_pass(sequencer);
    }
    sequencer.patterns.on = false;
}
BENCHMARK(BM_FrameAfterSwitch);

}  // namespace

int main(int argc, char** argv)
{
    start_counting_headless();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return EXIT_FAILURE;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return live_pictures() == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
