#include "Transpose.h"

#include "Kalverosin4.h"

namespace {

constexpr int AsSet = 60;  // the key that plays the row as set
constexpr int Octave = 12;
constexpr int HighestPitch = 127;
constexpr int TransposeDisId = 8100;

}  // namespace

void Transpose::hear(Sequencer& s, const MasterMessage& message)
{
    int listened = channel >= 0 ? channel : s.midiChannel;
    if (!on || message.kind != MasterKind::NoteOn || message.velocity == 0 || message.channel != listened) return;
    offset = message.number - AsSet;
}

int Transpose::sent(int note) const
{
    int pitch = note + offset;
    if (pitch > HighestPitch) pitch -= Octave * ((pitch - HighestPitch + Octave - 1) / Octave);
    if (pitch < 0) pitch += Octave * ((-pitch + Octave - 1) / Octave);
    return pitch;
}

void Transpose::draw_first(Sequencer& s)
{
    if (!on) return;
    PanelPlace label = panel_place("transpose-label");
    s.schirm.put(Txt(s.skin, label.x, label.y, "TRANSPOSE", 0).draw());
    shownKey = -1;
    refresh(s);
}

void Transpose::refresh(Sequencer& s)
{
    if (!on || shownKey == AsSet + offset) return;
    shownKey = AsSet + offset;
    PanelPlace place = panel_place("transpose-display");
    s.schirm.put(Dis3(TransposeDisId, s.skin, place.x, place.y, shownKey).draw(0));
}
