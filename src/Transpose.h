// The note row transposed from a keyboard (transpose on): a Note On on the
// panel's channel, or on transpose_channel, moves every note from the next one
// on by its key minus 60, and the key stays latched when it is let go.
#pragma once

#include "MasterInput.h"

class Sequencer;

class Transpose {
public:
    bool on = false;   // transpose = yes
    int channel = -1;  // transpose_channel - 1; -1: the panel's MIDI channel
    int offset = 0;    // semitones; 0 plays the row as set

    void hear(Sequencer& s, const MasterMessage& message);
    // The pitch sent for a note of the row, moved by octaves into 0 to 127.
    int sent(int note) const;
    void draw_first(Sequencer& s);
    void refresh(Sequencer& s);

private:
    int shownKey = -1;
};
