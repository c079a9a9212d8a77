#include "Patterns.h"

#include "Kalverosin4.h"

#include <utility>

namespace {

constexpr int PatternStripId = 8000;
constexpr int BlinkFrames = 12;  // a waiting pattern blinks about twice a second
constexpr int Cell = 15;
enum Look { Unseen, Empty, Held, Playing };

template <std::size_t... n>
constexpr std::array<PanelPlace, PatternCount> strip_places(std::index_sequence<n...>)
{
    constexpr const char* names[] = {"pattern-1",  "pattern-2",  "pattern-3",  "pattern-4",
                                     "pattern-5",  "pattern-6",  "pattern-7",  "pattern-8",
                                     "pattern-9",  "pattern-10", "pattern-11", "pattern-12",
                                     "pattern-13", "pattern-14", "pattern-15", "pattern-16"};
    return {panel_place(names[n])...};
}
constexpr std::array<PanelPlace, PatternCount> StripPlaces = strip_places(std::make_index_sequence<PatternCount>());

template <class Lines>
RowPattern common_of(Row<Lines>& row)
{
    RowPattern p;
    p.rate = row.rateFader.value;
    p.step = row.stepFader.value;
    p.direct = row.directFader.value;
    p.loopStart = row.loopBar.start;
    p.loopEnd = row.loopBar.end;
    for (int k = 0; k < StepsPerRow; ++k) p.lines[k] = row.stepButtons[k].state;
    return p;
}

RowPattern row_pattern(Row_Mode& row)
{
    RowPattern p = common_of(row);
    p.controller = row.lines.controllerFader.value;
    p.values = {row.lines.valueFader1.value, row.lines.valueFader2.value, row.lines.valueFader3.value};
    return p;
}

RowPattern row_pattern(Row_Gate& row)
{
    RowPattern p = common_of(row);
    p.values = {row.lines.velocityFader1.value, row.lines.velocityFader2.value, row.lines.velocityFader3.value};
    return p;
}

RowPattern row_pattern(Row_Note& row)
{
    RowPattern p = common_of(row);
    NoteLines& l = row.lines;
    p.values = {12 * l.octaveFader1.value + l.noteFader1.value, 12 * l.octaveFader2.value + l.noteFader2.value,
                12 * l.octaveFader3.value + l.noteFader3.value};
    return p;
}

void put_value(Fader& fader, Dis3& display, int value)
{
    fader.set(value);
    display.value = fader.value;
}

template <class Lines>
void put_common(Row<Lines>& row, const RowPattern& p)
{
    row.rateFader.set(p.rate);
    row.rateDis.value = 1 << row.rateFader.value;
    row.rate = BarTicks >> row.rateFader.value;
    put_value(row.stepFader, row.stepDis, p.step);
    row.directFader.set(p.direct);
    row.forward = row.directFader.value != 0 ? 1 : 0;
    row.loopBar.start = p.loopStart;
    row.loopBar.end = p.loopEnd;
    for (int k = 0; k < StepsPerRow; ++k) row.stepButtons[k].state = p.lines[k];
}

void put_row(Row_Mode& row, const RowPattern& p)
{
    put_common(row, p);
    ControllerLines& l = row.lines;
    put_value(l.controllerFader, l.controllerDis, p.controller);
    put_value(l.valueFader1, l.valueDis1, p.values[0]);
    put_value(l.valueFader2, l.valueDis2, p.values[1]);
    put_value(l.valueFader3, l.valueDis3, p.values[2]);
}

void put_row(Row_Gate& row, const RowPattern& p)
{
    put_common(row, p);
    VelocityLines& l = row.lines;
    put_value(l.velocityFader1, l.velocityDis1, p.values[0]);
    put_value(l.velocityFader2, l.velocityDis2, p.values[1]);
    put_value(l.velocityFader3, l.velocityDis3, p.values[2]);
}

void put_note(Fader& semitone, Fader& octave, DisN& display, int note)
{
    semitone.set(note % 12);
    octave.set(note / 12);
    display.value = 12 * octave.value + semitone.value;
}

void put_row(Row_Note& row, const RowPattern& p)
{
    put_common(row, p);
    NoteLines& l = row.lines;
    put_note(l.noteFader1, l.octaveFader1, l.noteDis1, p.values[0]);
    put_note(l.noteFader2, l.octaveFader2, l.noteDis2, p.values[1]);
    put_note(l.noteFader3, l.octaveFader3, l.noteDis3, p.values[2]);
}

template <class Row>
void redraw_row(Schirm& schirm, Row& row)
{
    schirm.put(row.drawpanel());
    for (int i = 0; i < row.items; ++i) schirm.put(row.draw(i));
}

bool on_cell(const PanelPlace& place)
{
    return mouse_x >= place.x && mouse_x < place.x + Cell && mouse_y >= place.y && mouse_y < place.y + Cell;
}

}  // namespace

Pattern pattern_of_rows(Sequencer& s)
{
    return {true,
            {row_pattern(s.upperControllerRow), row_pattern(s.lowerControllerRow), row_pattern(s.noteRow),
             row_pattern(s.gateRow)}};
}

void put_in_rows(Sequencer& s, const Pattern& pattern)
{
    put_row(s.upperControllerRow, pattern.rows[0]);
    put_row(s.lowerControllerRow, pattern.rows[1]);
    put_row(s.noteRow, pattern.rows[2]);
    put_row(s.gateRow, pattern.rows[3]);
}

// ---------------------------------------------------------------------------
// Choosing and switching

void Patterns::choose(Sequencer& s, int n)
{
    if (!s.running()) {
        if (n != bank.playing) switch_to(s, n);
        waiting = -1;
        return;
    }
    waiting = n == bank.playing ? -1 : n;
    choiceAfter = lastTick;
}

// A tick counted from an earlier start (the transport started again) leaves a
// choice to the first bar line of the new count.
void Patterns::at_tick(Sequencer& s, long long t)
{
    bool startedAgain = t <= lastTick;
    lastTick = t;
    if (waiting < 0 || t % grid != 0 || (!startedAgain && choiceAfter >= t - 1)) return;
    switch_to(s, waiting);
    s.upperControllerRow.ready();
    s.lowerControllerRow.ready();
    s.noteRow.ready();
    s.gateRow.ready();
}

// An empty pattern starts as a copy of the one that played.
void Patterns::switch_to(Sequencer& s, int n)
{
    Pattern& left = bank.patterns[bank.playing];
    left = pattern_of_rows(s);
    if (!bank.patterns[n].used) bank.patterns[n] = left;
    put_in_rows(s, bank.patterns[n]);
    bank.playing = n;
    waiting = -1;
    rowsChanged = true;
}

// ---------------------------------------------------------------------------
// The strip

int Patterns::look(int n) const
{
    if (n == bank.playing) return Playing;
    if (n == waiting && frames / BlinkFrames % 2 == 0) return Playing;
    return bank.patterns[n].used ? Held : Empty;
}

void Patterns::draw_first(Sequencer& s)
{
    if (!on) return;
    PanelPlace label = panel_place("pattern-label");
    s.schirm.put(Txt(s.skin, label.x, label.y, "PATTERN", 0).draw());
    shown.fill(Unseen);
    refresh(s);
}

void Patterns::take_click(Sequencer& s)
{
    int pressed = -1;
    if (mouse_b != 0 && (toset == 0 || toset == PatternStripId))
        for (int n = 0; n < PatternCount; ++n)
            if (on_cell(StripPlaces[n])) pressed = n;
    if (pressed >= 0) toset = PatternStripId;
    if (pressed >= 0 && pressed != lastPressed) choose(s, pressed);
    lastPressed = pressed;
}

void Patterns::refresh(Sequencer& s)
{
    if (rowsChanged) {
        redraw_row(s.schirm, s.upperControllerRow);
        redraw_row(s.schirm, s.lowerControllerRow);
        redraw_row(s.schirm, s.gateRow);
        redraw_row(s.schirm, s.noteRow);
        rowsChanged = false;
    }
    if (!on) return;
    // A choice left waiting when the rows stopped comes at once.
    if (waiting >= 0 && !s.running()) switch_to(s, waiting);
    take_click(s);
    frames = (frames + 1) % (2 * BlinkFrames);
    BITMAP* faces[] = {nullptr, s.skin.buttonled_out, s.skin.buttonled_off, s.skin.buttonled_on};
    for (int n = 0; n < PatternCount; ++n) {
        int now = look(n);
        if (now == shown[n]) continue;
        shown[n] = now;
        s.schirm.put({faces[now], StripPlaces[n].x, StripPlaces[n].y, 0});
    }
}

// ---------------------------------------------------------------------------
// What a player sends

void hear_player(Sequencer& s, const MasterMessage& message)
{
    s.transpose.hear(s, message);
    bool choice = message.kind == MasterKind::ProgramChange && message.channel == s.midiChannel;
    if (s.patterns.on && choice && message.number < PatternCount) s.patterns.choose(s, message.number);
}

void listen_to_player(Sequencer& s)
{
    if (!s.patterns.on && !s.transpose.on) return;
    MasterMessage message;
    for (int read = 0; read < MessagesPerPass && s.readMaster(message); ++read)
        if (message.kind == MasterKind::ProgramChange || message.kind == MasterKind::NoteOn) hear_player(s, message);
}
