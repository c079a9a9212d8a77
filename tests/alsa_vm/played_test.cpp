// Run in a VM by alsa_vm_test.sh: the sequencer played headless through the ALSA sequencer driver;
// with MIDI clock on; every message sent is printed as "sent: B0 01 40" (or "sent: F8") for the script to
// compare with what aseqdump heard.
#include "MidiAlsaSeq.h"
#include "headless.h"

#include <cstdio>

TEST_F(SequencerTest, PlayedThroughTheAlsaSequencer)
{
    ASSERT_TRUE(midi_alsa_seq.detect(FALSE) && midi_alsa_seq.init(FALSE, 16) == 0) << allegro_error;
    static MIDI_DRIVER tee = MidiRecorder::driver;
    tee.raw_midi = [](int data) {
        MidiRecorder::bytes.push_back(data);
        midi_alsa_seq.raw_midi(data);
    };
    midi_driver = &tee;
    s().clockOut = true;
    Cockpit& c = s().cockpit;
    click(c.startstopButton.x + 7, c.startstopButton.y + 7);
    tick_passes(1, 36);
    drag(c.channelFader, 2);
    tick_passes(37, 60);
    for (int i = 0; i < 11; ++i) frame();
    click(c.startstopButton.x + 7, c.startstopButton.y + 7);
    click(c.exitButton.x + 7, c.exitButton.y + 7);
    midi_alsa_seq.exit(FALSE);
    for (size_t i = 0; i < MidiRecorder::bytes.size(); ++i) {
        int byte = MidiRecorder::bytes[i];
        if (byte >= 0x80)
            std::printf(i ? "\nsent: %02X" : "sent: %02X", byte);
        else
            std::printf(" %02X", byte);
    }
    std::printf("\n");
}
