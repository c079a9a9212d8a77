// What an outside master sends, from raw bytes to the messages the sequencer follows.
#include "MasterInput.h"
#include "headless.h"

#include <random>

namespace {

using namespace std::string_literals;

// What a player sends (Program Change, Note On) is named only where asked for.
std::string parsed(const std::string& bytes, bool played = false)
{
    const char* names[] = {"clock ", "start ", "continue ", "stop ", "position ", "program ", "note "};
    MasterParser parser;
    MasterMessage m;
    std::string out;
    for (unsigned char byte : bytes) {
        if (!parser.take(byte, m) || (m.kind >= MasterKind::ProgramChange && !played)) continue;
        out += names[int(m.kind)];
        if (m.kind == MasterKind::SongPosition) out += std::to_string(m.sixteenths) + " ";
        if (m.kind == MasterKind::ProgramChange) out += std::to_string(m.channel) + "/" + std::to_string(m.number) + " ";
        if (m.kind == MasterKind::NoteOn)
            out += std::to_string(m.channel) + "/" + std::to_string(m.number) + "/" + std::to_string(m.velocity) + " ";
    }
    return out;
}

// Running status carries on through real-time bytes, never through System messages.
TEST(MasterParser, GivesExactlyTheCompleteMasterMessagesProgramChangesAndNoteOns)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\xFA\xF8\xFC\xFB\xF2\xF8\x05\xFE\xF9\xFD\xFF\x00"s, "start clock stop continue clock position 5 "},
        {"\xF2\x10\x01\xF2\x7F\x7F\xF2\x01\x02\x03\x04"s, "position 144 position 16383 position 257 "},
        {"\xF2\x05\x90\x40\x7F\xF2\x05\xF2\x06\x00\xF2\x07\xF8\xF7\x00\x00"s, "note 0/64/127 position 6 clock "},
        {"\x90\x40\x7F\x41\x00\xB0\x07\x64\xC0\x05\xE0\x00\x40\xF8\x90"s, "note 0/64/127 note 0/65/0 program 0/5 clock "},
        {"\x00\x7F\xF1\x20\xF3\x05\xF6\xF4\xF5\xF7\xF7\x80\xFE\xFF"s, ""},
        {"\xF0"s + std::string(5000, 'U') + "\xF8U\xF7\xF8\xF0\x01\xF2\x00\x01"s, "clock clock position 128 "},
        {"\xC3\x05\x07\xF8\x7F\x9F\x3C\x64\x40\xF8\x00\x90\x30"s, "program 3/5 program 3/7 clock program 3/127 note 15/60/100 clock note 15/64/0 "},
        {"\xC1\x02\xF2\x01\x00\x03\xC0\xB0\x07\x03\x05\x06\xC2\xF0\x01\x02\xF7\x04\xD0\x05\x91\x3C"s, "program 1/2 position 1 "},
    };
    for (const auto& [bytes, messages] : cases) EXPECT_EQ(parsed(bytes, true), messages) << bytes.substr(0, 20);
}

// Master messages, others and junk, mutated: each real-time byte gives what it gives alone, and a Song
// Position comes out exactly when its status and two data bytes are the last three that are not real-time.
TEST(MasterParser, FuzzedStreamsGiveMessagesOnlyForCompleteOnes)
{
    const std::string pieces[] = {"\xF8", "\xFA", "\xFB", "\xFC", "\xF2\x10\x01", "\x90\x40", "\xF0\x7E", "\xF7"};
    std::mt19937 random(22);
    for (int stream = 0; stream < 5000; ++stream) {
        std::string bytes, last(3, 0), wanted;
        for (int n = random() % 300; n > 0; --n) bytes.insert(random() % (bytes.size() + 1), pieces[random() % 8]);
        for (int n = random() % 30; n > 0 && !bytes.empty(); --n) bytes[random() % bytes.size()] = random();
        for (unsigned char b : bytes) {
            if (b < 0xF8) last = {last[1], last[2], char(b)};
            if (b >= 0xF8) wanted += parsed(std::string(1, char(b)));
            if (b < 0x80 && last[0] == '\xF2' && !(last[1] & 0x80))
                wanted += "position " + std::to_string(last[1] | b << 7) + " ";
        }
        ASSERT_EQ(parsed(bytes), wanted) << "stream " << stream;
    }
}

}  // namespace
