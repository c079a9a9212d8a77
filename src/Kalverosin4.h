// Kalverosin 4: the classes and constants shared by the application core
// (Kalverosin4_Main) and the panel's building blocks (Kalverosin4_ClassDef).
#pragma once

#include <allegro.h>

#include "MasterInput.h"
#include "Patterns.h"
#include "Swing.h"
#include "Transpose.h"

#include <array>
#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>

// ---------------------------------------------------------------------------
// Drawing surface
// ---------------------------------------------------------------------------

// What every drawing operation returns: which picture goes where on the surface.
// mode 17 copies masked, anything else plain; some refresh results also carry an
// event in mode (toggle 1/2, a fader's new value).
struct blitz_struct {
    BITMAP* bitmap;
    int x;
    int y;
    int mode;
};

inline constexpr blitz_struct BSNULL{nullptr, 0, 0, 0};
inline constexpr int MaskedCopy = 17;

// Frames during which a toggle button ignores further presses after it toggled.
inline constexpr int lockframes = 10;

// Id of the widget that the held mouse button belongs to; 0 when none holds it.
extern int toset;

// Pictures made for one drawing. Every widget makes its fresh pictures with
// create_picture(); whoever copies a record onto the surface releases its picture
// afterwards with release_picture(), which leaves the shared skin bitmaps alone.
BITMAP* create_picture(int w, int h);
void release_picture(BITMAP* picture);
int live_pictures();

// Allegro without a display, for tools and tests: 16-bit memory bitmaps in the
// colour layout of the real window. Safe to call again; false if Allegro cannot start.
bool start_headless_allegro();

class Schirm {
public:
    BITMAP* surface;

    Schirm();
    void refresh();
    void blitz(blitz_struct record);
    // Copies the record's picture and then releases it if it was made for this drawing.
    void put(blitz_struct record);
    // Gives the surface back when the program ends.
    void release();
};

// ---------------------------------------------------------------------------
// Skin
// ---------------------------------------------------------------------------

inline constexpr int SkinSlots = 42;

// A skin file that could not be loaded; what() names the file by its full path,
// says what is wrong with it and where the skin is looked for.
class SkinError : public std::runtime_error {
public:
    std::string file;
    SkinError(const std::string& path, const std::string& problem);
};

struct SkinFile;

class Skin {
public:
    BITMAP* paneltexture;
    BITMAP* button_ut_up;
    BITMAP* button_ut_p;
    BITMAP* button_t_up;
    BITMAP* button_t_p;
    BITMAP* buttonled_out;
    BITMAP* buttonled_off;
    BITMAP* buttonled_on;
    BITMAP* fader_bett_72;
    BITMAP* fader_bett_120;
    BITMAP* fader_bett_144;
    BITMAP* faderknob_ut;
    BITMAP* faderknob_t;
    BITMAP* display3_plain;
    BITMAP* display3;
    BITMAP* dd_digit[10];
    BITMAP* dd_note[12];
    BITMAP* alphabet;
    BITMAP* alphabet_shadex;
    BITMAP* row_panel;
    BITMAP* rowbind;
    BITMAP* cock_panel;

    // Loads every file of SkinFiles from knobcut/ below the working directory,
    // or, only where that has no knobcut/, from the skin installed with the
    // program (or below the given directory); throws SkinError naming the first
    // file that fails.
    Skin();
    explicit Skin(const std::string& directory);

    blitz_struct panel();
    blitz_struct cock(int y);
    // Gives the bitmaps back when the program ends; every copy of the skin
    // shares them, so nothing may draw afterwards.
    void release();

    // The name and field of each slot of SkinFiles.
    static const std::array<const char*, SkinSlots> file_names;
    BITMAP** slot(int index);
};

// Where a skin file's picture goes: a field of Skin, or one place of an array field.
template <auto Field, int Place = -1>
BITMAP** skin_field(Skin& skin)
{
    if constexpr (Place < 0)
        return &(skin.*Field);
    else
        return &(skin.*Field)[Place];
}

struct SkinFile {
    const char* name;  // below the directory the skin is read from
    BITMAP** (*field)(Skin&);
    // The part of the picture the panel copies: a smaller file would leave it
    // partly unpainted. 0 x 0: the picture is drawn whole (or not at all).
    int w;
    int h;
};

// Every skin file, in loading order. The loader, tools/skingen and the tests use this table.
inline constexpr SkinFile SkinFiles[SkinSlots] = {
    {"knobcut/paneltexture.bmp", skin_field<&Skin::paneltexture>, 300, 200},
    {"knobcut/button_15x15_ut_up.bmp", skin_field<&Skin::button_ut_up>, 15, 15},
    {"knobcut/button_15x15_ut_p.bmp", skin_field<&Skin::button_ut_p>, 15, 15},
    {"knobcut/button_15x15_t_up.bmp", skin_field<&Skin::button_t_up>, 15, 15},
    {"knobcut/button_15x15_t_p.bmp", skin_field<&Skin::button_t_p>, 15, 15},
    {"knobcut/buttonled_15x15_out_tx.bmp", skin_field<&Skin::buttonled_out>, 15, 15},
    {"knobcut/buttonled_15x15_off_gr.bmp", skin_field<&Skin::buttonled_off>, 15, 15},
    {"knobcut/buttonled_15x15_on.bmp", skin_field<&Skin::buttonled_on>, 15, 15},
    {"knobcut/fader_bett_72_wood.bmp", skin_field<&Skin::fader_bett_72>, 72, 15},
    {"knobcut/fader_bett_120_wood.bmp", skin_field<&Skin::fader_bett_120>, 120, 15},
    {"knobcut/fader_bett_144_wood.bmp", skin_field<&Skin::fader_bett_144>, 144, 15},
    {"knobcut/faderknob_15x15_ut_tx.bmp", skin_field<&Skin::faderknob_ut>, 15, 15},
    {"knobcut/faderknob_15x15_t_tx.bmp", skin_field<&Skin::faderknob_t>, 15, 15},
    {"knobcut/display3_plain.bmp", skin_field<&Skin::display3_plain>, 25, 15},
    {"knobcut/display3.bmp", skin_field<&Skin::display3>, 0, 0},
    {"knobcut/dd0.bmp", skin_field<&Skin::dd_digit, 0>, 7, 11},
    {"knobcut/dd1.bmp", skin_field<&Skin::dd_digit, 1>, 7, 11},
    {"knobcut/dd2.bmp", skin_field<&Skin::dd_digit, 2>, 7, 11},
    {"knobcut/dd3.bmp", skin_field<&Skin::dd_digit, 3>, 7, 11},
    {"knobcut/dd4.bmp", skin_field<&Skin::dd_digit, 4>, 7, 11},
    {"knobcut/dd5.bmp", skin_field<&Skin::dd_digit, 5>, 7, 11},
    {"knobcut/dd6.bmp", skin_field<&Skin::dd_digit, 6>, 7, 11},
    {"knobcut/dd7.bmp", skin_field<&Skin::dd_digit, 7>, 7, 11},
    {"knobcut/dd8.bmp", skin_field<&Skin::dd_digit, 8>, 7, 11},
    {"knobcut/dd9.bmp", skin_field<&Skin::dd_digit, 9>, 7, 11},
    {"knobcut/ddc.bmp", skin_field<&Skin::dd_note, 0>, 14, 11},
    {"knobcut/ddcis.bmp", skin_field<&Skin::dd_note, 1>, 14, 11},
    {"knobcut/ddd.bmp", skin_field<&Skin::dd_note, 2>, 14, 11},
    {"knobcut/dddis.bmp", skin_field<&Skin::dd_note, 3>, 14, 11},
    {"knobcut/dde.bmp", skin_field<&Skin::dd_note, 4>, 14, 11},
    {"knobcut/ddf.bmp", skin_field<&Skin::dd_note, 5>, 14, 11},
    {"knobcut/ddfis.bmp", skin_field<&Skin::dd_note, 6>, 14, 11},
    {"knobcut/ddg.bmp", skin_field<&Skin::dd_note, 7>, 14, 11},
    {"knobcut/ddgis.bmp", skin_field<&Skin::dd_note, 8>, 14, 11},
    {"knobcut/dda.bmp", skin_field<&Skin::dd_note, 9>, 14, 11},
    {"knobcut/ddais.bmp", skin_field<&Skin::dd_note, 10>, 14, 11},
    {"knobcut/ddb.bmp", skin_field<&Skin::dd_note, 11>, 14, 11},
    {"knobcut/alphabet.bmp", skin_field<&Skin::alphabet>, 252, 11},
    {"knobcut/alphabet_shadex.bmp", skin_field<&Skin::alphabet_shadex>, 252, 11},
    {"knobcut/row_panel.bmp", skin_field<&Skin::row_panel>, 0, 0},
    {"knobcut/rowbind.bmp", skin_field<&Skin::rowbind>, 0, 0},
    {"knobcut/cock_panel.bmp", skin_field<&Skin::cock_panel>, 0, 0},
};

// Loads one skin file after checking that Allegro's loader can read it safely;
// throws SkinError naming the file and what is wrong with it.
BITMAP* load_skin_file(const std::string& path, const SkinFile& file);

// ---------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------

class Txt {
public:
    int x;
    int y;
    int shade;
    const char* text;
    BITMAP* alphabet;
    BITMAP* alphabet_shadex;

    Txt(Skin skin, int x, int y, const char* text, int shade);
    blitz_struct draw();
};

class Dis3 {
public:
    int id;
    int value;
    int x;
    int y;
    BITMAP* display3_plain;
    BITMAP* dd_digit[10];

    Dis3(int id, Skin skin, int x, int y, int value);
    blitz_struct draw(int mode);
    blitz_struct refresh(int shown);
};

class DisN {
public:
    int id;
    int value;
    int x;
    int y;
    BITMAP* display3_plain;
    BITMAP* dd_digit[10];
    BITMAP* dd_note[12];

    DisN(int id, Skin skin, int x, int y, int value);
    blitz_struct draw(int mode);
    blitz_struct refresh(int shown);
};

class But1 {
public:
    int id;
    int lock;
    int x;
    int y;
    int state;
    BITMAP* button_ut_up;
    BITMAP* button_ut_p;
    BITMAP* button_t_up;
    BITMAP* button_t_p;
    int last_touched;
    int last_pressed;

    But1(int id, Skin skin, int x, int y, int state);
    int touched();
    int pressed();
    int get_state();
    blitz_struct draw(int mode);
    blitz_struct refresh();
    // A press as a click makes it: the button toggles unless it toggled in the last lockframes frames.
    blitz_struct take_press();
};

class But3 {
public:
    int id;
    int x;
    int y;
    int state;
    BITMAP* button_ut_up;
    BITMAP* button_ut_p;
    BITMAP* button_t_up;
    BITMAP* button_t_p;
    int last_touched;
    int last_pressed;

    But3(int id, Skin skin, int x, int y);
    int touched();
    int pressed();
    int get_state();
    blitz_struct draw(int mode);
    blitz_struct refresh();
};

class ButLed {
public:
    int id;
    int start;
    int grab_start;
    int end;
    int grab_end;
    int current;
    bool redraw;
    int x;
    int y;
    BITMAP* buttonled_out;
    BITMAP* buttonled_off;
    BITMAP* buttonled_on;
    int last_pressed;

    ButLed(int id, Skin skin, int x, int y);
    int touched();
    int pressed();
    blitz_struct draw(int mode);
    blitz_struct refresh();

private:
    void follow_pointer(int step);
};

class Led {
public:
    bool redraw;
    int state;
    BITMAP* buttonled_on;
    BITMAP* buttonled_off;
    int x;
    int y;

    Led(Skin skin, int x, int y);
    blitz_struct draw();
    blitz_struct refresh();
};

class Fader {
public:
    int id;
    int value;
    int last_touched;
    int last_pressed;
    int x;
    int y;
    int length;
    int min;
    int max;
    int steps;
    BITMAP* fader_bett_72;
    BITMAP* fader_bett_120;
    BITMAP* fader_bett_144;
    BITMAP* faderknob_ut;
    BITMAP* faderknob_t;
    int grab;
    int knob_pos;

    Fader(int id, Skin skin, int x, int y, int length, int min, int max, int value, int steps);
    int touched();
    int pressed();
    blitz_struct draw(int mode);
    blitz_struct refresh();
    // Puts the knob where a user who chose this value would have left it.
    void set(int v);

private:
    int travel() const;
    int rest_position(int v) const;
    BITMAP* track() const;
    blitz_struct drag();
};

// ---------------------------------------------------------------------------
// Sequencer rows
// ---------------------------------------------------------------------------

inline constexpr int StepsPerRow = 16;

// The items that a row serves by index through draw(i) and refresh(i). Most
// items have the same number in both; where the numbers differ, both are named.
enum RowItem : int {
    StepButtonItem = 0,  // 0 to 15, one per step
    LoopBarItem = 16,
    RateDisItem = 17,
    StepDisItem = 18,
    RateFaderItem = 19,
    StepFaderItem = 20,
    DirectFaderItem = 21,
    CommonItems = 22,  // items 0 to 21 are the same in every row

    // Controller and gate rows: a fader and a display on each value line.
    LineFaderItem = 22,  // 22 to 24
    LineDisItem = 25,    // 25 to 27
    LabelDrawItem = 28,  // 28 to 30: RATE, STEP, DIRECT; drawn once, never refreshed
    LedItem = 31,        // 31 to 33
    RefreshedItems = 34, // items 0 to 33 are refreshed in every frame
    TitleDrawItem = 34,
    ControllerFaderDrawItem = 35,
    ControllerDisDrawItem = 36,
    ControllerFaderRefreshItem = 34,
    ControllerDisRefreshItem = 35,
    ControllerRowItems = 37,
    GateRowItems = 35,

    // Note row: semitone fader, octave fader and note display on each note line.
    SemitoneFaderItem = 22,  // 22 to 24
    OctaveFaderItem = 25,    // 25 to 27
    NoteDisItem = 28,        // 28 to 30
    NoteLabelDrawItem = 31,  // 31 to 33
    NoteLedDrawItem = 34,    // 34 to 36
    NoteLedRefreshItem = 31, // 31 to 33
    NoteTitleDrawItem = 37,
    NoteRowItems = 38,
    NoteRowRefreshedItems = 37,  // 34 to 36 answer nothing
};

// Where a row's play position goes next; the heart of step().
int advance_play_position(int position, int width, int direction, int start, int end, int& forward);

// What sets each kind of row apart: the controls of its three value lines
// (and a controller row's controller number, 0 silencing the row).
struct ControllerLines {
    Fader controllerFader;
    Dis3 controllerDis;
    Fader valueFader1; Dis3 valueDis1;
    Fader valueFader2; Dis3 valueDis2;
    Fader valueFader3; Dis3 valueDis3;

    ControllerLines(int id, const Skin& skin, int x, int y);
};

struct VelocityLines {
    Fader velocityFader1; Dis3 velocityDis1;
    Fader velocityFader2; Dis3 velocityDis2;
    Fader velocityFader3; Dis3 velocityDis3;

    VelocityLines(int id, const Skin& skin, int x, int y);
};

// A note line: the note number is octave x 12 + semitone.
struct NoteLines {
    Fader noteFader1; DisN noteDis1; Fader octaveFader1;
    Fader noteFader2; DisN noteDis2; Fader octaveFader2;
    Fader noteFader3; DisN noteDis3; Fader octaveFader3;

    NoteLines(int id, const Skin& skin, int x, int y);
};

// A sequencer row: the controls every row has, and its own value lines. Its
// step() lands on the next step of its loop and returns the value of the line
// that step's button selects.
template <class Lines>
class Row {
public:
    int id;
    int items;
    int rate;
    int forward;
    BITMAP* panelBitmap;
    Dis3 rateDis;
    Fader rateFader;
    Dis3 stepDis;
    Fader stepFader;
    Fader directFader;
    Lines lines;
    ButLed loopBar;
    std::array<But3, StepsPerRow> stepButtons;
    Txt titleTxt;
    Txt rateTxt;
    Txt stepTxt;
    Txt directTxt;
    Led led1;
    Led led2;
    Led led3;
    int x;
    int y;

    Row(int id, Skin skin, int x, int y);
    blitz_struct drawpanel();
    blitz_struct draw(int i);
    blitz_struct refresh(int i);
    void ready();
    int step();

private:
    blitz_struct draw_common_item(int i);
    blitz_struct refresh_common_item(int i);
    blitz_struct refresh_rate();
    blitz_struct refresh_direction();
    int line_value(int line);
};

using Row_Mode = Row<ControllerLines>;
using Row_Gate = Row<VelocityLines>;
using Row_Note = Row<NoteLines>;
extern template class Row<ControllerLines>;
extern template class Row<VelocityLines>;
extern template class Row<NoteLines>;

// ---------------------------------------------------------------------------
// Panel layout
// ---------------------------------------------------------------------------

// Where each row and each item of the cockpit stands on the panel: its top-left
// corner (for the driver's name, where it ends). The program builds the panel
// from this table; tests and tools find the controls by name in it, and
// `pictures layout` prints it, with the controls inside the rows, for scripts.
struct PanelPlace {
    const char* name;
    int x;
    int y;
};

inline constexpr PanelPlace PanelLayout[] = {
    {"upper-controller-row", 10, 75},
    {"lower-controller-row", 10, 155},
    {"note-row", 10, 245},
    {"velocity-row", 10, 325},
    {"top-cockpit", 10, 10},
    {"bottom-cockpit", 10, 420},
    {"row-binding", 195, 235},
    {"title", 20, 20},
    {"driver-name-end", 620, 20},
    {"startstop", 195, 430},
    {"startstop-label", 215, 431},
    {"exit", 25, 430},
    {"exit-label", 45, 431},
    {"speed-tens-fader", 450, 430},
    {"speed-units-fader", 547, 430},
    {"speed-display", 522, 430},
    {"speed-label", 410, 431},
    {"channel-fader", 450, 445},
    {"channel-display", 593, 444},
    {"channel-label", 361, 447},
    // With swing on, left of MIDI CHANNEL.
    {"swing-label", 20, 447},
    {"swing", 70, 445},
    {"swing-display", 200, 444},
    // With patterns or transpose on, a line of their own in the top cockpit; in bars of four.
    {"pattern-label", 20, 38},
    {"pattern-1", 80, 36}, {"pattern-2", 95, 36}, {"pattern-3", 110, 36}, {"pattern-4", 125, 36},
    {"pattern-5", 145, 36}, {"pattern-6", 160, 36}, {"pattern-7", 175, 36}, {"pattern-8", 190, 36},
    {"pattern-9", 210, 36}, {"pattern-10", 225, 36}, {"pattern-11", 240, 36}, {"pattern-12", 255, 36},
    {"pattern-13", 275, 36}, {"pattern-14", 290, 36}, {"pattern-15", 305, 36}, {"pattern-16", 320, 36},
    {"transpose-label", 522, 38},
    {"transpose-display", 595, 36},
};

// The place of a named item; where it is used as a constant, a name that is
// not in the table does not compile.
constexpr PanelPlace panel_place(std::string_view name)
{
    for (const PanelPlace& place : PanelLayout)
        if (name == place.name) return place;
    throw std::invalid_argument("no such place on the panel");
}

// ---------------------------------------------------------------------------
// Application core
// ---------------------------------------------------------------------------

// Sequencer ticks (48 per beat) and frames owed to the screen, counted up by the
// timer thread; everything else runs on the main thread.
extern std::atomic<int> timerCounter;
extern int timerCounter_last;
extern std::atomic<int> FrameTimer;
extern bool exitnow;

void init();
void timerCounter_Updater();
void FrameTimerUpdater();

// The tick clock, and the MIDI messages the sequencer sends and passes on.
inline constexpr int TicksPerBeat = 48;
inline constexpr int TicksPerClock = TicksPerBeat / 24;  // a MIDI clock is 24 to the beat
inline constexpr int NoteOff = 0x80;
inline constexpr int NoteOn = 0x90;
inline constexpr int ControlChange = 0xB0;
inline constexpr int SongPosition = 0xF2;
inline constexpr int TimingClock = 0xF8;
inline constexpr int ClockStart = 0xFA;
inline constexpr int ClockContinue = 0xFB;
inline constexpr int ClockStop = 0xFC;

// Timer period of one tick at a tempo in beats per minute.
int tick_period(int tempo);
// Re-times the tick clock; tests put a recorder here.
extern void (*installTickPeriod)(int period);

// One three-byte MIDI message to the selected driver.
void send_midi(int status, int data1, int data2);
// One single-byte real-time message (clock, start, stop) to the selected driver.
void send_realtime(int status);

// What goes beyond the panel, from the [kalverosin4] section of Allegro's
// configuration; everything is off unless switched on there.
struct ConfigOptions {
    bool midiClock = false;    // midi_clock: clock, start and stop out
    bool followClock = false;  // follow_clock: an outside master's clock and transport in
    bool savePower = false;    // save_power: the loop sleeps while playing too
    std::string panelFile;   // remember_panel, panel_file: where the panel is kept; empty when it is not
    bool patterns = false;     // patterns: sixteen patterns, chosen on the panel and by Program Change
    int patternChange = 1;     // pattern_change: bars between the lines where a pattern may change
    bool transpose = false;    // transpose: the note row transposed by a key played
    int transposeChannel = 0;  // transpose_channel: 1 to 16; 0 is the panel's channel
    bool swing = false;        // swing: the rows' steps on a shuffle grid
};
ConfigOptions read_options();

// The panels around the rows: title, driver name, transport, tempo, channel.
class Cockpit {
public:
    Txt titleText;
    Txt driverLabelText;
    Txt driverNameText;
    But1 startstopButton;
    Txt startstopText;
    But1 exitButton;
    Txt exitText;
    Fader speedTensFader;
    Fader speedUnitsFader;
    Dis3 speedDis;
    Txt speedText;
    Fader channelFader;
    Dis3 channelDis;
    Txt channelText;

    Cockpit(Skin skin, const char* driverName);
    void draw_first(Schirm& schirm, Skin& skin);
    int tempo() const;
};

// An outside master's clocks as they are read: when the last one came, and how
// far apart the recent ones were (their median, so that one clock read late
// does not move the ticks between clocks).
class MasterClock {
public:
    void heard(long long now);  // nanoseconds, monotonic
    long long last() const { return lastHeard; }
    long long interval() const { return median; }  // 0 until two clocks came close enough together

private:
    static constexpr int Kept = 5;
    long long lastHeard = 0;
    long long median = 0;
    std::array<long long, Kept> intervals{};
    int kept = 0;
};

// Everything the main loop owns and does: the rows, the cockpit, the transport
// and the MIDI output. One pass() is one pass of the main loop.
class Sequencer {
public:
    Schirm& schirm;
    Skin skin;
    Row_Mode upperControllerRow;
    Row_Mode lowerControllerRow;
    Row_Gate gateRow;
    Row_Note noteRow;
    Cockpit cockpit;
    int midiChannel;
    int lastNote;
    int nextNote;
    bool clockOut;          // send MIDI clock, start and stop
    std::string panelFile;  // where the panel is kept between runs; empty: nowhere
    bool followClock;       // ticks and transport from an outside master
    bool savePower = false;  // save_power: playing, sleep until shortly before a tick that sends
    Patterns patterns;
    Transpose transpose;
    Swing swing;
    // Where a master's messages and the time (monotonic nanoseconds) come from
    // while following; tests put their own here.
    bool (*readMaster)(MasterMessage& message);
    long long (*clockNow)();

    Sequencer(Schirm& schirm, Skin skin);
    void draw_first_picture();
    void pass();
    bool running();
    void exit_program();

private:
    long long playTick;  // ticks since the transport started
    void handle_ticks(int counter);
    void handle_tick(long long t, long long newest);
    void place_swung(long long t, long long newest);
    void draw_frame();
    void rest_until_due();
    long long next_byte_deadline();
    void refresh_controller_row(Row_Mode& row);
    void refresh_cockpit();
    void start_transport();
    void stop_transport();
    void rows_to_start();

    // Following a master: tick 2n falls on its clock n (counted from its
    // Start), the odd tick between two clocks on their estimated midpoint.
    MasterClock masterClock;
    long long nextClock;  // the number of the clock to come
    long long dueTick;    // the latest tick the master has called for
    bool awaitingClock;   // started or continued: the rows go on at the next clock
    bool silenced;        // the master vanished and its note was ended
    int shownTransport;   // what STARTSTOP shows, where the master changed it
    void follow_master();
    void hear(const MasterMessage& message, long long now);
    void hear_clock(long long now);
    void play_heard_clocks(bool sending);
    void play_up_to(long long tick, bool sending = true);
    void start_from_master();
    void stop_from_master();
    void place_rows(long long ticks);
    void stand_at(long long sixteenths);
    void pass_on(const MasterMessage& message);
    void remember_panel();
    void all_notes_off();
};

// The panel's first picture as the end-to-end tests see it (the cockpit names
// the capture driver), drawn headless with the given skin into a new bitmap of
// the panel's size for the caller to destroy.
BITMAP* draw_first_picture(Skin& skin);

// The whole program: start-up, the panel, the loop, shut-down. Returns the exit status.
int run_kalverosin();

// MIDI drivers of the program's own, registered before the sound system starts.
inline constexpr int MIDI_CAPTURE = AL_ID('C', 'A', 'P', 'T');
extern MIDI_DRIVER midi_capture;
// The capture driver's input (capture_input), for listen_to_master and
// next_master_message as alsa_seq_listen and alsa_seq_read_input are.
bool capture_listen();
int capture_read_input(unsigned char* bytes, int size);
int capture_input_descriptors(pollfd* fds, int room);
void register_midi_drivers();
