#include "MasterInput.h"

#include "Kalverosin4.h"
#include "MidiAlsaSeq.h"
#include "Report.h"

#include <string>

namespace {

constexpr unsigned char SongPositionPointer = 0xF2;
constexpr unsigned char SystemExclusive = 0xF0;
// A flood of messages that are not followed must not hold up the main loop's pass.
constexpr int ReadsPerCall = 64;

// The listening driver's reader: bytes read into the buffer, 0 when what it
// read gave none, -1 when nothing more is there. Null while not listening.
int (*readInput)(unsigned char* bytes, int size) = nullptr;
int (*inputDescriptors)(pollfd* fds, int room) = nullptr;
MasterParser parser;
unsigned char pending[256];
int pendingAt = 0;
int pendingEnd = 0;

bool real_time(unsigned char byte, MasterMessage& message)
{
    switch (byte) {
    case 0xF8: message = {MasterKind::Clock, 0}; return true;
    case 0xFA: message = {MasterKind::Start, 0}; return true;
    case 0xFB: message = {MasterKind::Continue, 0}; return true;
    case 0xFC: message = {MasterKind::Stop, 0}; return true;
    default: return false;
    }
}

// Data bytes of a message by its status; -1 for one that ends at once or runs
// until the next status (System Exclusive).
int data_bytes(unsigned char status)
{
    switch (status >> 4) {
    case 0xC:
    case 0xD: return 1;
    case 0xF: return status == SongPositionPointer ? 2 : status == 0xF1 || status == 0xF3 ? 1 : -1;
    default: return 2;
    }
}

}  // namespace

bool MasterParser::take(unsigned char byte, MasterMessage& message)
{
    if (byte >= 0xF8) return real_time(byte, message);
    if (byte >= 0x80) {
        status = data_bytes(byte) < 0 && byte != SystemExclusive ? 0 : byte;
        have = 0;
        return false;
    }
    if (status == 0 || status == SystemExclusive) return false;
    data[have++] = byte;
    if (have < data_bytes(status)) return false;
    have = 0;
    unsigned char complete = status;
    if (status >= 0xF0) status = 0;  // System Common messages have no running status
    return completed(complete, message);
}

bool MasterParser::completed(unsigned char complete, MasterMessage& message) const
{
    int channel = complete & 0x0F;
    switch (complete & 0xF0) {
    case 0xC0: message = {MasterKind::ProgramChange, 0, channel, data[0]}; return true;
    case 0x90: message = {MasterKind::NoteOn, 0, channel, data[0], data[1]}; return true;
    default: break;
    }
    if (complete != SongPositionPointer) return false;
    message = {MasterKind::SongPosition, data[0] | data[1] << 7};
    return true;
}

bool listen_to_master()
{
    int (*reader)(unsigned char*, int) = nullptr;
    if (midi_driver == &midi_alsa_seq) {
        if (alsa_seq_listen()) reader = alsa_seq_read_input;
        inputDescriptors = alsa_seq_input_descriptors;
    } else if (midi_driver == &midi_capture) {
        if (capture_listen()) reader = capture_read_input;
        inputDescriptors = capture_input_descriptors;
    } else {
        report(Severity::Warning, std::string("cannot listen to MIDI input: the MIDI driver ") +
                                      (midi_driver ? midi_driver->name : "(none)") +
                                      " reads no MIDI; use the ALSA sequencer or the capture driver.");
    }
    parser = MasterParser{};
    pendingAt = pendingEnd = 0;
    readInput = reader;
    return reader != nullptr;
}

int master_input_descriptors(pollfd* fds, int room)
{
    if (!readInput || !inputDescriptors) return 0;
    if (pendingAt < pendingEnd) return -1;
    return inputDescriptors(fds, room);
}

bool next_master_message(MasterMessage& message)
{
    if (!readInput) return false;
    for (int reads = 0;;) {
        while (pendingAt < pendingEnd)
            if (parser.take(pending[pendingAt++], message)) return true;
        if (reads++ == ReadsPerCall) return false;
        int got = readInput(pending, sizeof pending);
        if (got < 0) return false;
        pendingAt = 0;
        pendingEnd = got;
    }
}
