// Until a MIDI driver listens, no master is heard.
#include "MasterInput.h"

#include "Report.h"

bool MasterParser::take(unsigned char, MasterMessage&) { return false; }

bool listen_to_master()
{
    report(Severity::Warning, "the MIDI driver cannot listen to a master; the sequencer keeps its own tempo.");
    return false;
}

bool next_master_message(MasterMessage&) { return false; }
