// MIDI output on Linux as an ALSA sequencer client: "Kalverosin 4" with one
// output port, which sends every complete message at once to its subscribers,
// and, while following a master, an input port "MIDI In".
// Allegro's own raw-MIDI driver gives up after the fourth byte, and synths on
// Linux are reached through the sequencer anyway (PipeWire provides one too).
//
// To connect the port at start, name a destination as aconnect would:
//
//   [sound]
//   alsa_seq_connect = 128:0        (or a client name, e.g. FLUID Synth)
//   alsa_seq_connect_in = 20:0      the master, while following one
#pragma once

#include <allegro.h>

#include <string>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_seq_addr snd_seq_addr_t;
typedef struct snd_seq_event snd_seq_event_t;
struct pollfd;

inline constexpr int MIDI_ALSA_SEQ = AL_ID('A', 'S', 'E', 'Q');
extern MIDI_DRIVER midi_alsa_seq;

// The alsa-lib sequencer calls the driver makes, so that tests can stand in for
// the kernel. The MIDI byte encoder is not among them: tests see its real output.
struct AlsaSeqCalls {
    int (*open)(snd_seq_t** seq, const char* name, int streams, int mode);
    int (*set_client_name)(snd_seq_t* seq, const char* name);
    int (*create_simple_port)(snd_seq_t* seq, const char* name, unsigned int caps, unsigned int type);
    int (*parse_address)(snd_seq_t* seq, snd_seq_addr_t* address, const char* text);
    int (*connect_to)(snd_seq_t* seq, int port, int destinationClient, int destinationPort);
    int (*event_output_direct)(snd_seq_t* seq, snd_seq_event_t* event);
    int (*close)(snd_seq_t* seq);
    int (*connect_from)(snd_seq_t* seq, int port, int sourceClient, int sourcePort);
    int (*event_input)(snd_seq_t* seq, snd_seq_event_t** event);
    int (*set_client_pool_input)(snd_seq_t* seq, size_t size);
};

extern const AlsaSeqCalls alsaLibSeqCalls;

// After the sound system has started: where it found no MIDI output (the panel
// shows NO SOUND), one line on stderr naming what could not be opened and what to do.
void say_why_there_is_no_midi_output();
// For listen_to_master: makes the input port and connects the configured
// source; false, said on stderr, where it cannot.
bool alsa_seq_listen();
// The MIDI bytes of the next event received, for next_master_message: their
// number, 0 for an event without any, -1 when none has come. Never waits.
int alsa_seq_read_input(unsigned char* bytes, int size);
// For master_input_descriptors: the client's descriptors to poll for input;
// -1 when events are already waiting in alsa-lib's buffer.
int alsa_seq_input_descriptors(pollfd* fds, int room);

// While Allegro probes its sound drivers, alsa-lib complains on stderr about
// every card it does not find; the program wants only MIDI. What it says is
// held back between these two calls and handed to the caller, who shows it
// only if the sound system failed.
void hold_back_alsa_messages();
std::string release_alsa_messages();
extern AlsaSeqCalls alsaSeqCalls;
