// What an outside master sends that the sequencer follows (follow_clock on),
// from whichever of the program's MIDI drivers listens: the ALSA sequencer
// client's port "MIDI In", or the capture driver's capture_input. Both hand
// their bytes to one parser, so that everything after it is shared.
#pragma once

struct pollfd;

enum class MasterKind { Clock, Start, Continue, Stop, SongPosition, ProgramChange, NoteOn };

struct MasterMessage {
    MasterKind kind;
    int sixteenths;  // Song Position only: MIDI beats (sixteenth notes) from the start
    int channel = 0;   // Program Change and Note On: 0 to 15
    int number = 0;    // the program or the key
    int velocity = 0;  // Note On only; 0 ends a note
};

// Raw MIDI bytes to master messages, and the Program Changes and Note Ons a
// player sends. Whatever arrives (controllers, running status, System
// Exclusive of any length, a message cut short, bytes that are no MIDI at
// all) is taken without harm; what is none of these is dropped. Real-time
// bytes may stand inside other messages.
class MasterParser {
public:
    // True when the byte completes a master message, which is then in message.
    bool take(unsigned char byte, MasterMessage& message);

private:
    bool completed(unsigned char complete, MasterMessage& message) const;
    unsigned char status = 0;  // of the message being read, kept as running status; 0 when none
    int have = 0;              // data bytes of it read so far
    unsigned char data[2] = {};
};

// Opens the selected MIDI driver's input; false, with one line on stderr,
// where it cannot (a driver that cannot listen, an input that will not open).
bool listen_to_master();

// The descriptors to wait on for the master's input, at most room of them
// (poll's events set); -1 when input is already waiting to be read.
int master_input_descriptors(pollfd* fds, int room);

// A flood of input must leave every pass of the main loop its frame, the
// pointer and EXIT: a pass reads at most this many messages.
inline constexpr int MessagesPerPass = 32;

// The next message from the master, if one has come; never waits.
bool next_master_message(MasterMessage& message);
