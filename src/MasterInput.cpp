#include "MasterInput.h"

#include "Report.h"

namespace {

constexpr unsigned char SongPositionPointer = 0xF2;

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

}  // namespace

bool MasterParser::take(unsigned char byte, MasterMessage& message)
{
    if (byte >= 0xF8) return real_time(byte, message);
    if (byte >= 0x80) {
        status = byte;
        have = 0;
        return false;
    }
    if (status != SongPositionPointer) return false;
    data[have++] = byte;
    if (have < 2) return false;
    status = 0;  // System Common messages have no running status
    message = {MasterKind::SongPosition, data[0] | data[1] << 7};
    return true;
}

// Until a MIDI driver listens, no master is heard.
bool listen_to_master()
{
    report(Severity::Warning, "the MIDI driver cannot listen to a master; the sequencer keeps its own tempo.");
    return false;
}

bool next_master_message(MasterMessage&) { return false; }
