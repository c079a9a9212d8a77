// The application core: start-up and timers, the cockpit, the main loop, the
// sequencer clock and all MIDI output.
#include "Kalverosin4.h"
#include "ConfigValue.h"
#include "DesktopWindow.h"
#include "EndingSignals.h"
#include "MidiAlsaSeq.h"
#include "PanelMemory.h"
#include "Report.h"
#include "SteadyTimer.h"
#include "TickStamps.h"

#include <allegro/platform/aintunix.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ===========================================================================
// Start-up and timers
// ===========================================================================

std::atomic<int> timerCounter{0};
int timerCounter_last = -1;
std::atomic<int> FrameTimer{0};
bool exitnow = false;

namespace {

constexpr int FrameRate = 50;
constexpr int init_tempo = 120;
constexpr int TimerUnitsPerMinute = 71590860;  // 60 x TIMERS_PER_SECOND

void install_tick_timer(int period) { install_int_ex(timerCounter_Updater, period); }

// Without a window there is no instrument: say why, and do not call it success.
void stop_without_window()
{
    const char* display = std::getenv("DISPLAY");
    std::string why = allegro_error[0]            ? std::string(allegro_error)
                      : display && *display ? std::string("The X display ") + display + " cannot be opened."
                                            : std::string("There is no display: DISPLAY is not set.");
    const std::string unable = "Unable to set graphic mode!";
    report(Severity::Fatal, unable + " " + why, unable);
}

}  // namespace

void timerCounter_Updater()
{
    timerCounter.fetch_add(1);
    stamp_tick();
}
END_OF_FUNCTION(timerCounter_Updater)

void FrameTimerUpdater() { FrameTimer.fetch_add(1); }
END_OF_FUNCTION(FrameTimerUpdater)

int tick_period(int tempo) { return TimerUnitsPerMinute / (tempo * TicksPerBeat); }

void (*installTickPeriod)(int period) = install_tick_timer;

void register_midi_drivers()
{
    _unix_register_midi_driver(MIDI_ALSA_SEQ, &midi_alsa_seq, TRUE, 1);
    _unix_register_midi_driver(MIDI_CAPTURE, &midi_capture, FALSE, 0);
}

void init()
{
    // Without a display there is no system driver, and every later call would crash.
    if (install_allegro_named() != 0) stop_without_window();
    set_color_depth(16);
    if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) < 0) stop_without_window();
    install_keyboard();  // only Space, so nothing to say if there is none
    register_steady_timer();
    if (install_timer() != 0)
        report(Severity::Warning, std::string("cannot start the timer (") + allegro_error +
                                      "): the panel will neither play nor move.");
    if (install_mouse() < 0) report(Severity::Warning, "there is no mouse: the panel cannot be played.");
    join_the_desktop();
    // Our own drivers must be known before the sound system picks one.
    register_midi_drivers();
    hold_back_alsa_messages();
    int sound = install_sound(DIGI_AUTODETECT, MIDI_AUTODETECT, nullptr);
    std::string alsaSaid = release_alsa_messages();
    if (sound != 0)
        report(Severity::Warning, std::string("cannot start the sound system (") + allegro_error +
                                      "): no MIDI will be sent." + (alsaSaid.empty() ? "" : " ALSA said: " + alsaSaid));
    else
        say_why_there_is_no_midi_output();
    // The main loop polls: it sees its own deadlines the moment they pass.
    // After a stall, ticks more than a beat behind and every frame but one are skipped.
    run_on_main_loop(timerCounter_Updater, TicksPerBeat);
    run_on_main_loop(FrameTimerUpdater, 1);
    install_int_ex(timerCounter_Updater, tick_period(init_tempo));
    install_int_ex(FrameTimerUpdater, BPS_TO_TIMER(FrameRate));
}

// ===========================================================================
// Options
// ===========================================================================

namespace {

constexpr const char* OptionsSection = "kalverosin4";

// Yes or no; anything else is named on stderr and leaves the option off.
bool read_switch(const char* key)
{
    const char* value = config_value(OptionsSection, key);
    if (!value || !*value) return false;
    for (const char* yes : {"yes", "on", "true", "1"})
        if (strcasecmp(value, yes) == 0) return true;
    for (const char* no : {"no", "off", "false", "0"})
        if (strcasecmp(value, no) == 0) return false;
    report(Severity::Warning, std::string("[") + OptionsSection + "] " + key + " = " + value +
                                  " is neither yes nor no; it stays off.");
    return false;
}

}  // namespace

ConfigOptions read_options()
{
    ConfigOptions options;
    options.midiClock = read_switch("midi_clock");
    options.followClock = read_switch("follow_clock");
    options.savePower = read_switch("save_power");
    if (read_switch("remember_panel"))
        options.panelFile = panel_file_path(config_value(OptionsSection, "panel_file"));
    options.patterns = read_switch("patterns");
    options.patternChange = config_number(OptionsSection, "pattern_change", 1, 16, 1);
    options.transpose = read_switch("transpose");
    options.transposeChannel = config_number(OptionsSection, "transpose_channel", 1, 16, 0);
    options.swing = read_switch("swing");
    return options;
}

// ===========================================================================
// MIDI output
// ===========================================================================

// Drivers without raw output (DIGMID) still play messages through midi_out.
void send_midi(int status, int data1, int data2)
{
    if (midi_driver && midi_driver->raw_midi) {
        midi_driver->raw_midi(status);
        midi_driver->raw_midi(data1);
        midi_driver->raw_midi(data2);
        return;
    }
    unsigned char message[] = {static_cast<unsigned char>(status), static_cast<unsigned char>(data1),
                               static_cast<unsigned char>(data2)};
    midi_out(message, 3);
}

// Allegro's player reads two more bytes after any status from F0 up, even past
// the end of what it is given; the zeros keep that read inside the message.
void send_realtime(int status)
{
    if (midi_driver && midi_driver->raw_midi) {
        midi_driver->raw_midi(status);
        return;
    }
    unsigned char message[] = {static_cast<unsigned char>(status), 0, 0};
    midi_out(message, 1);
}

// ===========================================================================
// Cockpit
// ===========================================================================

namespace {

constexpr int StartstopId = 5000;
constexpr int ExitId = 5500;
constexpr int SpeedTensId = 6001;
constexpr int SpeedDisId = 6002;
constexpr int SpeedUnitsId = 6003;
constexpr int ChannelFaderId = 7000;
constexpr int ChannelDisId = 7001;
constexpr int GlyphWidth = 7;
constexpr const char* DriverLabel = "detected midi driver";
constexpr int DriverNameGap = 21;

// The driver's name ends at its place, its label a gap before it.
int driver_name_x(const char* driverName)
{
    return panel_place("driver-name-end").x - GlyphWidth * static_cast<int>(std::strlen(driverName));
}
int driver_label_x(const char* driverName)
{
    return driver_name_x(driverName) - DriverNameGap - GlyphWidth * static_cast<int>(std::strlen(DriverLabel));
}

Txt text_at(const Skin& skin, const char* place, const char* text, int shade = 0)
{
    return {skin, panel_place(place).x, panel_place(place).y, text, shade};
}

}  // namespace

Cockpit::Cockpit(Skin skin, const char* driverName)
    : titleText(text_at(skin, "title", "KALVEROSIN 4", 1)),
      driverLabelText(skin, driver_label_x(driverName), panel_place("driver-name-end").y, DriverLabel, 0),
      driverNameText(skin, driver_name_x(driverName), panel_place("driver-name-end").y, driverName, 0),
      startstopButton(StartstopId, skin, panel_place("startstop").x, panel_place("startstop").y, 0),
      startstopText(text_at(skin, "startstop-label", "STARTSTOP")),
      exitButton(ExitId, skin, panel_place("exit").x, panel_place("exit").y, 0),
      exitText(text_at(skin, "exit-label", "EXIT")),
      speedTensFader(SpeedTensId, skin, panel_place("speed-tens-fader").x, panel_place("speed-tens-fader").y, 72, 4,
                     24, init_tempo / 10, 21),
      speedUnitsFader(SpeedUnitsId, skin, panel_place("speed-units-fader").x, panel_place("speed-units-fader").y,
                      72, 0, 9, init_tempo % 10, 10),
      speedDis(SpeedDisId, skin, panel_place("speed-display").x, panel_place("speed-display").y, init_tempo),
      speedText(text_at(skin, "speed-label", "SPEED")),
      channelFader(ChannelFaderId, skin, panel_place("channel-fader").x, panel_place("channel-fader").y, 144, 1, 16,
                   1, 17),
      channelDis(ChannelDisId, skin, panel_place("channel-display").x, panel_place("channel-display").y, 1),
      channelText(text_at(skin, "channel-label", "MIDI CHANNEL"))
{
}

void Cockpit::draw_first(Schirm& schirm, Skin& skin)
{
    schirm.put(skin.cock(panel_place("top-cockpit").y));
    schirm.put(skin.cock(panel_place("bottom-cockpit").y));
    schirm.put({skin.rowbind, panel_place("row-binding").x, panel_place("row-binding").y, 0});
    schirm.put(titleText.draw());
    schirm.put(driverLabelText.draw());
    schirm.put(driverNameText.draw());
    schirm.put(startstopButton.draw(0));
    schirm.put(startstopText.draw());
    schirm.put(exitButton.draw(0));
    schirm.put(exitText.draw());
    schirm.put(speedTensFader.draw(0));
    schirm.put(speedUnitsFader.draw(0));
    schirm.put(speedDis.draw(0));
    schirm.put(speedText.draw());
    schirm.put(channelFader.draw(0));
    schirm.put(channelDis.draw(0));
    schirm.put(channelText.draw());
}

int Cockpit::tempo() const { return 10 * speedTensFader.value + speedUnitsFader.value; }

// ===========================================================================
// Main loop
// ===========================================================================

namespace {

constexpr int UpperControllerRowId = 3000;
constexpr int LowerControllerRowId = 3000;  // the two controller rows share their widget ids
constexpr int GateRowId = 1000;
constexpr int NoteRowId = 2000;

const char* selected_driver_name() { return midi_driver && midi_driver->ascii_name ? midi_driver->ascii_name : ""; }

template <class Row>
void draw_row(Schirm& schirm, Row& row)
{
    schirm.put(row.drawpanel());
    for (int i = 0; i < row.items; ++i) schirm.put(row.draw(i));
}

template <class Row>
void refresh_items(Schirm& schirm, Row& row, int count)
{
    for (int i = 0; i < count; ++i) schirm.put(row.refresh(i));
}

}  // namespace

Sequencer::Sequencer(Schirm& schirm, Skin skin)
    : schirm(schirm),
      skin(skin),
      upperControllerRow(UpperControllerRowId, skin, panel_place("upper-controller-row").x,
                         panel_place("upper-controller-row").y),
      lowerControllerRow(LowerControllerRowId, skin, panel_place("lower-controller-row").x,
                         panel_place("lower-controller-row").y),
      gateRow(GateRowId, skin, panel_place("velocity-row").x, panel_place("velocity-row").y),
      noteRow(NoteRowId, skin, panel_place("note-row").x, panel_place("note-row").y),
      cockpit(skin, selected_driver_name()),
      midiChannel(0),
      lastNote(0),
      nextNote(0),
      clockOut(false),
      followClock(false),
      readMaster(next_master_message),
      clockNow(monotonic_nanoseconds),
      playTick(-1),
      nextClock(0),
      dueTick(-1),
      awaitingClock(false),
      silenced(false),
      shownTransport(0)
{
}

void Sequencer::draw_first_picture()
{
    schirm.put(skin.panel());
    draw_row(schirm, upperControllerRow);
    draw_row(schirm, lowerControllerRow);
    draw_row(schirm, gateRow);
    draw_row(schirm, noteRow);
    cockpit.draw_first(schirm, skin);
    patterns.draw_first(*this);
    transpose.draw_first(*this);
    swing.draw_first(*this);
}

bool Sequencer::running() { return cockpit.startstopButton.get_state() == 1; }

void Sequencer::pass()
{
    poll_steady_timer();
    if (followClock) {
        follow_master();
    } else {
        listen_to_player(*this);
        if (running()) handle_ticks(timerCounter.load());
    }
    if (swing.waiting()) swing.send_due(clockNow());
    if (FrameTimer.load() <= 0) return rest_until_due();
    draw_frame();
}

void Sequencer::draw_frame()
{
    schirm.refresh();
    FrameTimer.fetch_sub(1);
    poll_mouse();
    show_short_clicks();
    refresh_controller_row(upperControllerRow);
    refresh_controller_row(lowerControllerRow);
    refresh_items(schirm, gateRow, RefreshedItems);
    refresh_items(schirm, noteRow, NoteRowRefreshedItems);
    refresh_cockpit();
    patterns.refresh(*this);
    transpose.refresh(*this);
    swing.refresh(*this);
}

// The controller number can be changed only while the transport is stopped.
void Sequencer::refresh_controller_row(Row_Mode& row)
{
    refresh_items(schirm, row, RefreshedItems);
    if (running()) return;
    schirm.put(row.refresh(ControllerFaderRefreshItem));
    schirm.put(row.refresh(ControllerDisRefreshItem));
}

void Sequencer::refresh_cockpit()
{
    schirm.put(cockpit.speedTensFader.refresh());
    schirm.put(cockpit.speedUnitsFader.refresh());
    blitz_struct speed = cockpit.speedDis.refresh(cockpit.tempo());
    bool tempoChanged = speed.bitmap != nullptr;
    schirm.put(speed);
    if (tempoChanged) installTickPeriod(tick_period(cockpit.speedDis.value));

    schirm.put(cockpit.channelFader.refresh());
    blitz_struct channel = cockpit.channelDis.refresh(cockpit.channelFader.value);
    bool channelChanged = channel.bitmap != nullptr;
    schirm.put(channel);
    if (channelChanged) {
        all_notes_off();
        midiChannel = cockpit.channelFader.value - 1;
    }

    blitz_struct startstop = cockpit.startstopButton.refresh();
    schirm.put(startstop);
    if (startstop.mode == 0 && take_space_press()) schirm.put(startstop = cockpit.startstopButton.take_press());
    if (startstop.mode == 1) start_transport();
    if (startstop.mode == 2) stop_transport();
    // A master started or stopped the rows: the button shows it.
    if (shownTransport != cockpit.startstopButton.state) schirm.put(cockpit.startstopButton.draw(0));
    shownTransport = cockpit.startstopButton.state;

    blitz_struct exit = cockpit.exitButton.refresh();
    schirm.put(exit);
    if (exit.mode == 1) exit_program();
}

// ===========================================================================
// Sequencer clock and transport
// ===========================================================================

namespace {

constexpr int AllNotesOff = 0x7B;
constexpr int MidiChannels = 16;

}  // namespace

// The tick counter is read as a distance from the last tick handled, which
// stays right when the counter wraps after months of play; playTick counts on
// from the start in 64 bits, so the rows keep their phase across the wrap.
// Owed ticks are played in order, so that every row keeps its place; more than
// a beat behind, the clock jumps to the present instead of racing through the past.
void Sequencer::handle_ticks(int t)
{
    unsigned owed = static_cast<unsigned>(t) - static_cast<unsigned>(timerCounter_last);
    if (owed == 0) return;
    timerCounter_last = t;
    long long newest = playTick + owed;
    long long first = owed <= static_cast<unsigned>(TicksPerBeat) ? playTick + 1 : newest;
    playTick = newest;
    for (long long tick = first; tick <= newest; ++tick) handle_tick(tick, newest);
}

namespace {

// Of the steps owed after a stall, a row sends only its newest: the rest would
// come out as one flam of zero-length notes.
bool due(long long tick, int rate) { return tick % rate == 0; }
bool sends(long long tick, int rate, long long newest) { return tick + rate > newest; }

}  // namespace

void Sequencer::handle_tick(long long t, long long newest)
{
    // A follower passes its master's clocks on instead.
    if (clockOut && !followClock && t % TicksPerClock == 0) send_realtime(TimingClock);
    patterns.at_tick(*this, t);
    place_swung(t, newest);
    for (Row_Mode* row : {&upperControllerRow, &lowerControllerRow}) {
        if (!due(t, row->rate)) continue;
        int value = row->step();
        int controller = row->lines.controllerDis.value;
        if (controller != 0 && sends(t, row->rate, newest)) swing.send(ControlChange + midiChannel, controller, value);
    }
    if (due(t, noteRow.rate)) nextNote = noteRow.step();
    if (due(t, gateRow.rate)) {
        int velocity = gateRow.step();
        if (!sends(t, gateRow.rate, newest)) return;
        swing.send(NoteOff + midiChannel, lastNote, 0x7F);
        lastNote = transpose.sent(nextNote);
        swing.send(NoteOn + midiChannel, lastNote, velocity);
    }
}

// Tick 0 is handled even when the timer has already counted past it; a
// follower plays it at the master's next clock.
void Sequencer::rows_to_start()
{
    timerCounter.store(0);
    timerCounter_last = -1;
    playTick = -1;
    dueTick = -1;
    nextClock = 0;
    awaitingClock = true;
    upperControllerRow.ready();
    lowerControllerRow.ready();
    gateRow.ready();
    noteRow.ready();
}

void Sequencer::start_transport()
{
    rows_to_start();
    if (clockOut) send_realtime(ClockStart);
}

void Sequencer::stop_transport()
{
    for (ButLed* bar : {&upperControllerRow.loopBar, &lowerControllerRow.loopBar, &gateRow.loopBar, &noteRow.loopBar}) {
        bar->current = 0;
        bar->redraw = true;
    }
    if (clockOut) send_realtime(ClockStop);
    all_notes_off();
    remember_panel();
}

void Sequencer::exit_program()
{
    if (clockOut) send_realtime(ClockStop);
    all_notes_off();
    remember_panel();
    exitnow = true;
}

void Sequencer::remember_panel()
{
    if (!panelFile.empty()) save_panel_in_background(*this, panelFile);
}

void Sequencer::all_notes_off()
{
    swing.drop();
    for (int channel = 0; channel < MidiChannels; ++channel) send_midi(ControlChange + channel, AllNotesOff, 0);
}

// ===========================================================================
// The program
// ===========================================================================

BITMAP* draw_first_picture(Skin& skin)
{
    midi_driver = &midi_capture;
    BITMAP* picture = create_bitmap(640, 480);
    Schirm schirm;
    Sequencer sequencer(schirm, skin);
    sequencer.draw_first_picture();
    blit(schirm.surface, picture, 0, 0, 0, 0, 640, 480);
    schirm.release();
    return picture;
}

int run_kalverosin()
{
    hold_ending_signals();
    init();
    note_ending_signals();
    ConfigOptions options = read_options();
    try {
        Schirm schirm;
        Sequencer sequencer(schirm, Skin());
        sequencer.clockOut = options.midiClock;
        bool listening = (options.followClock || options.patterns || options.transpose) && listen_to_master();
        sequencer.followClock = options.followClock && listening;
        sequencer.patterns.on = options.patterns;
        sequencer.patterns.grid = options.patternChange * BarTicks;
        sequencer.transpose.on = options.transpose;
        sequencer.transpose.channel = options.transposeChannel - 1;
        sequencer.swing.on = options.swing;
        sequencer.panelFile = options.panelFile;
        sequencer.savePower = options.savePower;
        if (!sequencer.panelFile.empty() && !restore_panel(sequencer, sequencer.panelFile)) sequencer.panelFile.clear();
        sequencer.draw_first_picture();
        rest(500);
        while (!exitnow) {
            if (ending_signal_noted() || close_requested()) sequencer.exit_program();
            else sequencer.pass();
        }
        write_tick_stamps();
        // Allegro cannot destroy bitmaps once it is shut down.
        sequencer.skin.release();
        schirm.release();
    } catch (const SkinError& error) {
        report(Severity::Fatal, error.what());
    }
    finish_panel_saves();
    allegro_exit();
    end_by_noted_signal();
    return EXIT_SUCCESS;
}
