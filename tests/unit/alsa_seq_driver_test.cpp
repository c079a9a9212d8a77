// The ALSA sequencer driver, from the bytes handed to raw_midi to the calls it
// makes into alsa-lib, answered by a stand-in for the kernel's sequencer.
#include "MasterInput.h"
#include "MidiAlsaSeq.h"
#include "headless.h"

#include <alsa/asoundlib.h>
#include <allegro/internal/aintern.h>

#include <algorithm>
#include <cerrno>

namespace {

using Lines = std::vector<std::string>;

// Every call made, one line each; the answers given; alsa-lib's error handler before the driver ran.
Lines calls;
int openResult, portResult, connectResult, failingOutputs;
snd_lib_error_handler_t errorHandler;
char handle;
std::vector<snd_seq_event_t> arriving;  // at the input port, of which the driver has taken some
size_t taken = 0;

const AlsaSeqCalls standIn = {
    [](snd_seq_t** seq, const char* name, int streams, int mode) {
        bool quiet = snd_lib_error != errorHandler, nonblocking = mode == SND_SEQ_NONBLOCK;
        calls.push_back(std::string("open ") + name + (streams == SND_SEQ_OPEN_DUPLEX ? " duplex" : "") +
                        (nonblocking ? " nonblocking" : "") + (quiet ? " quietly" : ""));
        *seq = reinterpret_cast<snd_seq_t*>(&handle);
        return openResult;
    },
    [](snd_seq_t*, const char* name) {
        calls.push_back(std::string("name ") + name);
        return 0;
    },
    [](snd_seq_t*, const char* name, unsigned caps, unsigned type) {
        bool input = name == std::string("MIDI In");
        bool subscribable = caps == (input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                           : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
        bool midi = type == (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        calls.push_back(std::string("port ") + name + (subscribable ? " subscribable" : "") + (midi ? ", MIDI" : ""));
        return portResult;
    },
    [](snd_seq_t*, snd_seq_addr_t* address, const char* text) {
        *address = {130, 0};
        return std::string(text) == "Synth:0" ? 0 : -ENOENT;
    },
    [](snd_seq_t*, int port, int client, int to) {
        calls.push_back("connect " + std::to_string(port) + " " + std::to_string(client) + ":" + std::to_string(to));
        return connectResult;
    },
    [](snd_seq_t*, snd_seq_event_t* e) {
        if (failingOutputs-- > 0) return -EAGAIN;
        bool cc = e->type == SND_SEQ_EVENT_CONTROLLER;
        bool direct =
            e->source.port == 3 && e->dest.client == SND_SEQ_ADDRESS_SUBSCRIBERS && e->queue == SND_SEQ_QUEUE_DIRECT;
        calls.push_back((cc ? "cc " : e->type == SND_SEQ_EVENT_NOTEON ? "on " : "off ") +
                        std::to_string(cc ? e->data.control.param : e->data.note.note) + " " +
                        std::to_string(cc ? e->data.control.value : e->data.note.velocity) + " ch" +
                        std::to_string(e->data.note.channel) + (direct ? "" : " queued or addressed"));
        return 0;
    },
    [](snd_seq_t*) {
        calls.push_back("close");
        return 0;
    },
    [](snd_seq_t*, int port, int client, int from) {
        calls.push_back("from " + std::to_string(client) + ":" + std::to_string(from) + " to " + std::to_string(port));
        return connectResult;
    },
    [](snd_seq_t*, snd_seq_event_t** e) {
        if (taken == arriving.size()) return -EAGAIN;
        *e = &arriving[taken++];
        return 0;
    },
    [](snd_seq_t*, size_t size) { return calls.push_back("input pool " + std::to_string(size)), 0; },
};

class AlsaSeqDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_headless_allegro();
        openResult = connectResult = failingOutputs = 0;
        portResult = 3;
        errorHandler = snd_lib_error;
        alsaSeqCalls = standIn;
        configure("");
    }
    void TearDown() override
    {
        midi_alsa_seq.exit(FALSE);
        alsaSeqCalls = alsaLibSeqCalls;
        override_config_file(nullptr);
    }
    static void configure(const std::string& destination, const std::string& source = "")
    {
        std::string text = "[sound]\nalsa_seq_connect = " + destination + "\nalsa_seq_connect_in = " + source + "\n";
        override_config_data(text.c_str(), static_cast<int>(text.size()));
    }
    static void send(std::vector<int> bytes)
    {
        for (int byte : bytes) midi_alsa_seq.raw_midi(byte);
    }
    // Detects and starts the driver, which opens a probe and then its client; the calls after that.
    void start()
    {
        calls.clear();
        EXPECT_TRUE(midi_alsa_seq.detect(FALSE) && midi_alsa_seq.init(FALSE, 16) == 0);
        std::string open = "open default duplex nonblocking quietly";
        const Lines opened = {open, "close", open, "name Kalverosin 4", "port MIDI Out subscribable, MIDI"};
        size_t n = std::min(calls.size(), opened.size());
        EXPECT_EQ(Lines(calls.begin(), calls.begin() + n), opened);
        calls.erase(calls.begin(), calls.begin() + n);
    }
};

// Each message goes out whole as one event at once; dropped ones are reported
// once, not at every drop; a message cut short by the exit is forgotten.
TEST_F(AlsaSeqDriver, SendsEachMessageAsOneEventStraightToTheSubscribers)
{
    start();
    ::testing::internal::CaptureStderr();
    send({0xB0, 0x01, 0x40, 0x90, 0x24, 0x40, 0x90, 0x24, 0x00});
    failingOutputs = 2;
    send({0x80, 0x24, 0x7F, 0x9F, 0x30, 0x7F, 0x9F, 0x30, 0x7F, 0x90, 0x3C});
    midi_alsa_seq.exit(FALSE);
    send({0x64});
    std::string complaints = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(complaints.find("dropped"), std::string::npos);
    EXPECT_EQ(complaints.find("dropped"), complaints.rfind("dropped")) << complaints;
    EXPECT_EQ(calls, (Lines{"cc 1 64 ch0", "on 36 64 ch0", "on 36 0 ch0", "on 48 127 ch15", "close"}));
    start();
    send({0x64, 0xBF, 0x7B, 0x00, 0x80, 0x00, 0x7F});
    EXPECT_EQ(calls, (Lines{"cc 123 0 ch15", "off 0 127 ch0"}));
}

// A destination that cannot be reached is named, and why; the output works all the same.
TEST_F(AlsaSeqDriver, ConnectsAtStartToTheConfiguredDestination)
{
    struct Case { const char* destination; int connect; std::string complaint; };
    for (const Case& c : {Case{"Synth:0", 0, ""}, Case{"Ghost", 0, "no ALSA client named \"Ghost\""},
                          Case{"Synth:0", -EPERM, "to \"Synth:0\": Operation not permitted"},
                          Case{"Synth:0", -ENOENT, "there is no ALSA port 130:0"},
                          Case{"Synth:0  # a synth", 0, "alsa_seq_connect = Synth:0  # a synth: Allegro keeps"}}) {
        bool known = c.destination == std::string("Synth:0");
        connectResult = c.connect;
        configure(c.destination);
        std::string complaint = stderr_of([&] { start(); });
        send({0xB0, 0x07, 0x64});
        Lines expected = {"cc 7 100 ch0"};
        if (known) expected.insert(expected.begin(), "connect 3 130:0");
        EXPECT_EQ(calls, expected) << c.destination;
        EXPECT_EQ(complaint.empty(), c.complaint.empty()) << complaint;
        EXPECT_NE(complaint.find(c.complaint), std::string::npos) << complaint;
        midi_alsa_seq.exit(FALSE);
    }
}

// The input port is made, and read, only once the sequencer listens; a source it cannot connect is named.
TEST_F(AlsaSeqDriver, ListensOnAnInputPortOnlyWhenFollowing)
{
    arriving.assign(4, snd_seq_event_t{});  // system events, which carry no MIDI bytes, but for these
    arriving[0].type = SND_SEQ_EVENT_NOTEON;
    arriving[1].type = SND_SEQ_EVENT_CLOCK;
    arriving[3].type = SND_SEQ_EVENT_START;
    configure("", "Synth:0");
    connectResult = -EPERM;
    start();
    MasterMessage m;
    EXPECT_FALSE(next_master_message(m));
    midi_driver = &midi_alsa_seq;
    std::string complaint = stderr_of([] { EXPECT_TRUE(listen_to_master()); });
    std::vector<MasterKind> kinds;
    while (next_master_message(m)) kinds.push_back(m.kind);
    EXPECT_EQ(kinds, (std::vector<MasterKind>{MasterKind::NoteOn, MasterKind::Clock, MasterKind::Start}));
    EXPECT_EQ(calls, (Lines{"port MIDI In subscribable, MIDI", "input pool 2000", "from 130:0 to 3"}));
    EXPECT_NE(complaint.find("MIDI input from \"Synth:0\": Operation not permitted"), std::string::npos) << complaint;
}

// A sequencer that cannot be opened, or a port that cannot be made, is named
// as such; a client that was opened is given back.
TEST_F(AlsaSeqDriver, WhatFailsAtStartIsNamedAndAnOpenedClientClosed)
{
    struct Case { int open, port; const char *complaint, *lastCall; };
    const Case cases[] = {
        {-ENOENT, 3, "cannot open the ALSA sequencer: No such file or directory",
         "open default duplex nonblocking quietly"},
        {0, -ENOMEM, "cannot create its ALSA output port: Cannot allocate memory", "close"},
    };
    for (const Case& c : cases) {
        openResult = c.open;
        portResult = c.port;
        calls.clear();
        std::string complaint = stderr_of([] { EXPECT_NE(midi_alsa_seq.init(FALSE, 16), 0); });
        EXPECT_NE(complaint.find(c.complaint), std::string::npos) << complaint;
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), c.lastCall);
    }
}

// NO SOUND on the panel comes with one line on what could not be opened and what to do.
TEST_F(AlsaSeqDriver, WithoutOutputSaysWhatCouldNotBeOpenedAndWhatToDo)
{
    struct Case { MIDI_DRIVER* picked; int open; const char* said; };
    const Case cases[] = {
        {&_midi_none, -ENOENT, "Kalverosin 4: no MIDI output (the panel shows NO SOUND): cannot open the ALSA "
                               "sequencer (No such file or directory): there is no /dev/snd/seq; load the kernel's"},
        {&_midi_none, -EACCES, "(Permission denied): join the audio group"}, {&_midi_none, -EBUSY, "busy): start"},
        {&midi_alsa_seq, 0, ""},
    };
    MIDI_DRIVER* before = midi_driver;
    for (const Case& c : cases) {
        openResult = c.open;
        midi_alsa_seq.detect(FALSE);
        midi_driver = c.picked;
        std::string said = stderr_of(say_why_there_is_no_midi_output);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), *c.said ? 1 : 0) << said;
    }
    midi_driver = before;
}

}  // namespace
