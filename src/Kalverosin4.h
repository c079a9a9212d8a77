// Kalverosin 4: the classes and constants shared by the application core
// (Kalverosin4_Main) and the panel's building blocks (Kalverosin4_ClassDef).
#pragma once

#include <allegro.h>

#include <array>
#include <atomic>
#include <stdexcept>
#include <string>

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

// A skin file that could not be loaded; what() names the file.
class SkinError : public std::runtime_error {
public:
    std::string file;
    SkinError(const std::string& path, const std::string& problem);
};

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

    // Loads every skin file from knobcut/ below the working directory (or below
    // the given directory); throws SkinError naming the first file that fails.
    Skin();
    explicit Skin(const std::string& directory);

    blitz_struct panel();
    blitz_struct cock(int y);
    // Gives the bitmaps back when the program ends; every copy of the skin
    // shares them, so nothing may draw afterwards.
    void release();

    // The file of each slot, in loading order, relative to the skin directory.
    static const char* const file_names[SkinSlots];
    BITMAP** slot(int index);
};

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

// Where a row's play position goes next; the heart of step(). Written for the
// row's own fields so that the three row classes share it.
int advance_play_position(int position, int width, int direction, int start, int end, int& forward);

class Row_Mode {
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
    Fader controllerFader;
    Dis3 controllerDis;
    Fader valueFader1;
    Dis3 valueDis1;
    Fader valueFader2;
    Dis3 valueDis2;
    Fader valueFader3;
    Dis3 valueDis3;
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

    Row_Mode(int id, Skin skin, int x, int y);
    blitz_struct drawpanel();
    blitz_struct draw(int i);
    blitz_struct refresh(int i);
    void ready();
    int step();
};

class Row_Gate {
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
    Fader velocityFader1;
    Dis3 velocityDis1;
    Fader velocityFader2;
    Dis3 velocityDis2;
    Fader velocityFader3;
    Dis3 velocityDis3;
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

    Row_Gate(int id, Skin skin, int x, int y);
    blitz_struct drawpanel();
    blitz_struct draw(int i);
    blitz_struct refresh(int i);
    void ready();
    int step();
};

class Row_Note {
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
    Fader noteFader1;
    DisN noteDis1;
    Fader octaveFader1;
    Fader noteFader2;
    DisN noteDis2;
    Fader octaveFader2;
    Fader noteFader3;
    DisN noteDis3;
    Fader octaveFader3;
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

    Row_Note(int id, Skin skin, int x, int y);
    blitz_struct drawpanel();
    blitz_struct draw(int i);
    blitz_struct refresh(int i);
    void ready();
    int step();
};

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
    bool midiClock = false;  // midi_clock: clock, start and stop out
    std::string panelFile;   // remember_panel, panel_file: where the panel is kept; empty when it is not
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

    Sequencer(Schirm& schirm, Skin skin);
    void draw_first_picture();
    void pass();
    bool running();

private:
    long long playTick;  // ticks since the transport started
    void handle_ticks();
    void handle_tick(long long t, long long newest);
    void draw_frame();
    void refresh_controller_row(Row_Mode& row);
    void refresh_cockpit();
    void start_transport();
    void stop_transport();
    void exit_program();
    void remember_panel();
    void all_notes_off();
};

// The whole program: start-up, the panel, the loop, shut-down. Returns the exit status.
int run_kalverosin();

// MIDI drivers of the program's own, registered before the sound system starts.
inline constexpr int MIDI_CAPTURE = AL_ID('C', 'A', 'P', 'T');
extern MIDI_DRIVER midi_capture;
void register_midi_drivers();
