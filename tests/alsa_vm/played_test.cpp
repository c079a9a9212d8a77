// Run in a VM by alsa_vm_test.sh: the sequencer played headless through the ALSA sequencer driver;
// with MIDI clock on; every message sent is printed as "sent: B0 01 40" (or "sent: F8") for the script to
// compare with what aseqdump heard. Then a master of the test's own, another client of the kernel's
// sequencer, plays to the port "MIDI In", and the follower passes it on and plays the steps.
#include "MidiAlsaSeq.h"
#include "headless.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <thread>

// Clocks 10 ms apart, a Stop, a Song Position and a Continue, as a drum machine would send them.
void play_a_master(Sequencer& sequencer)
{
    snd_seq_t* master = nullptr;
    snd_seq_addr_t follower{};
    ASSERT_EQ(snd_seq_open(&master, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    int port = snd_seq_create_simple_port(master, "clock", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_EQ(snd_seq_parse_address(master, &follower, "Kalverosin 4:1"), 0);
    ASSERT_EQ(snd_seq_connect_to(master, port, follower.client, follower.port), 0);
    auto say = [&](snd_seq_event_type_t type, int value = 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        event.type = type;
        event.data.control.value = value;
        snd_seq_event_output_direct(master, &event);
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
             std::chrono::steady_clock::now() < end;)
            sequencer.pass();
    };
    say(SND_SEQ_EVENT_START);
    for (int clock = 0; clock < 30; ++clock) say(SND_SEQ_EVENT_CLOCK);
    say(SND_SEQ_EVENT_STOP);
    say(SND_SEQ_EVENT_SONGPOS, 4);
    say(SND_SEQ_EVENT_CONTINUE);
    for (int clock = 0; clock < 30; ++clock) say(SND_SEQ_EVENT_CLOCK);
    say(SND_SEQ_EVENT_STOP);
    snd_seq_close(master);
}

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
    size_t ownClock = MidiRecorder::bytes.size();
    midi_driver = &midi_alsa_seq;
    ASSERT_TRUE(listen_to_master());
    midi_driver = &tee;
    s().followClock = true;
    play_a_master(s());
    // Start, then tick 0 at the first clock; a step every 6 clocks; Stop and its sweep; the position passed on.
    const std::vector<int> followed(MidiRecorder::bytes.begin() + ownClock, MidiRecorder::bytes.begin() + ownClock + 15);
    EXPECT_EQ(followed, (std::vector<int>{0xFA, 0xF8, 0xB1, 1, 0x40, 0xB1, 1, 0x40, 0x81, 0x24, 0x7F, 0x91, 0x24,
                                          0x40, 0xF8}));
    click(c.exitButton.x + 7, c.exitButton.y + 7);
    midi_alsa_seq.exit(FALSE);
    for (size_t i = 0; i < MidiRecorder::bytes.size(); ++i)
        std::printf(MidiRecorder::bytes[i] < 0x80 ? " %02X" : i ? "\nsent: %02X" : "sent: %02X", MidiRecorder::bytes[i]);
    std::printf("\n");
}
