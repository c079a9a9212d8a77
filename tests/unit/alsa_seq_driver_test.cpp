// The ALSA sequencer driver from the bytes handed to raw_midi to the events
// handed to alsa-lib, with a stand-in for the kernel's sequencer and the real
// MIDI byte encoder.
#include "MidiAlsaSeq.h"

#include <alsa/asoundlib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <vector>

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

constexpr int OurPort = 3;

struct Connection {
    int port;
    int client;
    int destinationPort;
    bool operator==(const Connection& other) const
    {
        return port == other.port && client == other.client && destinationPort == other.destinationPort;
    }
};

struct FakeSequencer {
    int openResult = 0;
    int portResult = OurPort;
    int connectResult = 0;
    std::map<std::string, snd_seq_addr_t> clients{{"FLUID Synth:0", {130, 0}}};
    std::deque<int> outputResults;

    int opens = 0;
    int closes = 0;
    bool errorsSilencedWhileOpening = false;
    std::string device;
    int streams = 0;
    int mode = 0;
    std::string clientName;
    std::string portName;
    unsigned int portCaps = 0;
    unsigned int portType = 0;
    std::vector<std::string> parsed;
    std::vector<Connection> connections;
    std::vector<snd_seq_event_t> delivered;
    int failedOutputs = 0;
};

FakeSequencer* fake = nullptr;
char fakeSequencerMemory;
snd_lib_error_handler_t errorHandlerBeforeOpen = nullptr;

snd_seq_t* fake_handle() { return reinterpret_cast<snd_seq_t*>(&fakeSequencerMemory); }

int fake_open(snd_seq_t** seq, const char* name, int streams, int mode)
{
    fake->errorsSilencedWhileOpening = snd_lib_error != errorHandlerBeforeOpen;
    fake->device = name;
    fake->streams = streams;
    fake->mode = mode;
    if (fake->openResult < 0) return fake->openResult;
    ++fake->opens;
    *seq = fake_handle();
    return 0;
}

int fake_set_client_name(snd_seq_t*, const char* name)
{
    fake->clientName = name;
    return 0;
}

int fake_create_simple_port(snd_seq_t*, const char* name, unsigned int caps, unsigned int type)
{
    fake->portName = name;
    fake->portCaps = caps;
    fake->portType = type;
    return fake->portResult;
}

int fake_parse_address(snd_seq_t*, snd_seq_addr_t* address, const char* text)
{
    fake->parsed.push_back(text);
    auto known = fake->clients.find(text);
    if (known == fake->clients.end()) return -ENOENT;
    *address = known->second;
    return 0;
}

int fake_connect_to(snd_seq_t*, int port, int client, int destinationPort)
{
    fake->connections.push_back({port, client, destinationPort});
    return fake->connectResult;
}

int fake_event_output_direct(snd_seq_t* seq, snd_seq_event_t* event)
{
    if (seq != fake_handle()) return -EBADFD;
    int result = 0;
    if (!fake->outputResults.empty()) {
        result = fake->outputResults.front();
        fake->outputResults.pop_front();
    }
    if (result < 0)
        ++fake->failedOutputs;
    else
        fake->delivered.push_back(*event);
    return result;
}

int fake_close(snd_seq_t*)
{
    ++fake->closes;
    return 0;
}

const AlsaSeqCalls fakeCalls = {fake_open,          fake_set_client_name,     fake_create_simple_port, fake_parse_address,
                                fake_connect_to,    fake_event_output_direct, fake_close};

std::string describe(const snd_seq_event_t& event)
{
    char text[80];
    const auto& note = event.data.note;
    const auto& control = event.data.control;
    switch (event.type) {
    case SND_SEQ_EVENT_NOTEON:
        std::snprintf(text, sizeof text, "note on ch%d %d vel %d", note.channel, note.note, note.velocity);
        break;
    case SND_SEQ_EVENT_NOTEOFF:
        std::snprintf(text, sizeof text, "note off ch%d %d vel %d", note.channel, note.note, note.velocity);
        break;
    case SND_SEQ_EVENT_CONTROLLER:
        std::snprintf(text, sizeof text, "controller ch%d %u=%d", control.channel, control.param, control.value);
        break;
    case SND_SEQ_EVENT_CLOCK:
        std::snprintf(text, sizeof text, "clock");
        break;
    default:
        std::snprintf(text, sizeof text, "event type %d", event.type);
    }
    return text;
}

std::string describe_route(const snd_seq_event_t& event)
{
    char text[80];
    bool toSubscribers = event.dest.client == SND_SEQ_ADDRESS_SUBSCRIBERS;
    bool direct = event.queue == SND_SEQ_QUEUE_DIRECT;
    std::snprintf(text, sizeof text, "port %d -> %s, %s", event.source.port,
                  toSubscribers ? "subscribers" : "one client", direct ? "direct" : "queued");
    return text;
}

const std::string ToSubscribersAtOnce = "port 3 -> subscribers, direct";

bool is_channel_event(const snd_seq_event_t& event)
{
    return event.type >= SND_SEQ_EVENT_NOTE && event.type <= SND_SEQ_EVENT_PITCHBEND;
}

class AlsaSeqDriver : public ::testing::Test {
protected:
    FakeSequencer sequencer;

    void SetUp() override
    {
        if (!system_driver) install_allegro(SYSTEM_NONE, &errno, atexit);
        fake = &sequencer;
        errorHandlerBeforeOpen = snd_lib_error;
        alsaSeqCalls = fakeCalls;
        use_config("[sound]\nalsa_seq_connect =\n");
    }

    void TearDown() override
    {
        midi_alsa_seq.exit(FALSE);
        alsaSeqCalls = alsaLibSeqCalls;
        override_config_file(nullptr);
        fake = nullptr;
    }

    static void use_config(const std::string& text) { override_config_data(text.c_str(), static_cast<int>(text.size())); }

    static void send(std::initializer_list<int> bytes)
    {
        for (int byte : bytes) midi_alsa_seq.raw_midi(byte);
    }

    std::vector<std::string> delivered() const
    {
        std::vector<std::string> events;
        for (const auto& event : sequencer.delivered) events.push_back(describe(event));
        return events;
    }

    std::vector<std::string> routes() const
    {
        std::vector<std::string> all;
        for (const auto& event : sequencer.delivered) all.push_back(describe_route(event));
        return all;
    }

    void start()
    {
        ASSERT_TRUE(midi_alsa_seq.detect(FALSE));
        ASSERT_EQ(midi_alsa_seq.init(FALSE, midi_alsa_seq.def_voices), 0);
    }
};

TEST_F(AlsaSeqDriver, IsAnOutputOnlyDriverWithANameThePanelCanShow)
{
    std::string name = midi_alsa_seq.ascii_name;
    ASSERT_FALSE(name.empty());
    for (char c : name) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == ' ') << name;
    EXPECT_FALSE(midi_alsa_seq.detect(TRUE));
    EXPECT_NE(midi_alsa_seq.init(TRUE, 0), 0);
    EXPECT_EQ(sequencer.opens, 0);
}

TEST_F(AlsaSeqDriver, OpensANonBlockingOutputClientWithOneMidiPortForSubscribers)
{
    start();
    EXPECT_EQ(sequencer.device, "default");
    EXPECT_EQ(sequencer.streams, SND_SEQ_OPEN_OUTPUT);
    EXPECT_EQ(sequencer.mode, SND_SEQ_NONBLOCK);
    EXPECT_EQ(sequencer.clientName, "Kalverosin 4");
    EXPECT_FALSE(sequencer.portName.empty());
    EXPECT_EQ(sequencer.portCaps, unsigned{SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ});
    EXPECT_EQ(sequencer.portType, unsigned{SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION});
    // The probe in detect must not leave a second client behind.
    EXPECT_EQ(sequencer.opens - sequencer.closes, 1);
}

TEST_F(AlsaSeqDriver, WithoutASequencerItStepsAsideQuietly)
{
    sequencer.openResult = -ENOENT;
    EXPECT_FALSE(midi_alsa_seq.detect(FALSE));
    EXPECT_TRUE(sequencer.errorsSilencedWhileOpening);
    EXPECT_EQ(snd_lib_error, errorHandlerBeforeOpen);
    EXPECT_NE(midi_alsa_seq.init(FALSE, 16), 0);
    send({0x90, 0x3C, 0x64});
    EXPECT_EQ(sequencer.failedOutputs, 0);
    EXPECT_THAT(delivered(), IsEmpty());
}

TEST_F(AlsaSeqDriver, AClientWhosePortFailsIsClosedAgain)
{
    sequencer.portResult = -ENOMEM;
    ASSERT_TRUE(midi_alsa_seq.detect(FALSE));
    EXPECT_NE(midi_alsa_seq.init(FALSE, 16), 0);
    EXPECT_EQ(sequencer.opens, sequencer.closes);
    send({0xB0, 0x01, 0x40});
    EXPECT_THAT(delivered(), IsEmpty());
}

TEST_F(AlsaSeqDriver, SendsEachMessageAsOneEventStraightToTheSubscribers)
{
    start();
    send({0xB0, 0x01, 0x40});
    send({0xB0, 0x01, 0x40});
    send({0x80, 0x00, 0x7F});
    send({0x90, 0x24, 0x40});
    send({0x90, 0x24, 0x00});
    send({0x91, 0x30, 0x7F});
    send({0xBF, 0x4A, 0x7F});
    // A Note On with velocity 0 stays a Note On: the encoder does not rewrite it.
    EXPECT_THAT(delivered(),
                ElementsAre("controller ch0 1=64", "controller ch0 1=64", "note off ch0 0 vel 127", "note on ch0 36 vel 64",
                            "note on ch0 36 vel 0", "note on ch1 48 vel 127", "controller ch15 74=127"));
    EXPECT_THAT(routes(), Each(ToSubscribersAtOnce));
}

TEST_F(AlsaSeqDriver, AllNotesOffSweepReachesEveryChannelInOrder)
{
    start();
    std::vector<std::string> expected;
    for (int channel = 0; channel < 16; ++channel) {
        send({0xB0 + channel, 0x7B, 0x00});
        expected.push_back("controller ch" + std::to_string(channel) + " 123=0");
    }
    EXPECT_EQ(delivered(), expected);
    EXPECT_THAT(routes(), Each(ToSubscribersAtOnce));
}

TEST_F(AlsaSeqDriver, FollowsRunningStatusRealTimeBytesAndIgnoresStrayData)
{
    start();
    send({0x40, 0x40, 0x40});
    send({0x90, 0x3C, 0x64, 0x3E, 0x00});
    send({0xB2, 0x07, 0xF8, 0x64});
    EXPECT_THAT(delivered(), ElementsAre("note on ch0 60 vel 100", "note on ch0 62 vel 0", "clock", "controller ch2 7=100"));
    EXPECT_THAT(routes(), Each(ToSubscribersAtOnce));
}

TEST_F(AlsaSeqDriver, SurvivesAnyByteSequenceAndRecoversOnTheNextStatusByte)
{
    start();
    std::mt19937 random(4);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int i = 0; i < 200000; ++i) midi_alsa_seq.raw_midi(anyByte(random));
    ASSERT_FALSE(sequencer.delivered.empty());
    for (const auto& event : sequencer.delivered) {
        if (is_channel_event(event)) {
            EXPECT_LT(event.data.note.channel, 16) << describe(event);
        }
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            EXPECT_LE(event.data.ext.len, 256u);
        }
    }
    EXPECT_THAT(routes(), Each(ToSubscribersAtOnce));

    sequencer.delivered.clear();
    send({0xB0, 0x01, 0x40});
    EXPECT_THAT(delivered(), ElementsAre("controller ch0 1=64"));
}

TEST_F(AlsaSeqDriver, AFailedSendLosesOnlyThatEventAndIsReportedOnce)
{
    start();
    sequencer.outputResults = {-EAGAIN, -ENOMEM, 0};
    ::testing::internal::CaptureStderr();
    send({0x90, 0x24, 0x40});
    send({0x80, 0x24, 0x7F});
    send({0xB0, 0x01, 0x40});
    send({0x90, 0x26, 0x40});
    std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sequencer.failedOutputs, 2);
    EXPECT_THAT(delivered(), ElementsAre("controller ch0 1=64", "note on ch0 38 vel 64"));
    EXPECT_THAT(messages, HasSubstr("dropped"));
    EXPECT_EQ(messages.find("dropped"), messages.rfind("dropped")) << messages;
}

TEST_F(AlsaSeqDriver, ConnectsAtStartToTheConfiguredDestination)
{
    use_config("[sound]\nalsa_seq_connect = FLUID Synth:0\n");
    start();
    EXPECT_THAT(sequencer.parsed, ElementsAre("FLUID Synth:0"));
    EXPECT_THAT(sequencer.connections, ElementsAre(Connection{OurPort, 130, 0}));
}

TEST_F(AlsaSeqDriver, WithoutAConfiguredDestinationLeavesConnectingToOthers)
{
    start();
    EXPECT_THAT(sequencer.parsed, IsEmpty());
    EXPECT_THAT(sequencer.connections, IsEmpty());
}

TEST_F(AlsaSeqDriver, AnUnreachableDestinationIsReportedAndTheOutputStillWorks)
{
    use_config("[sound]\nalsa_seq_connect = Ghost Synth\n");
    ::testing::internal::CaptureStderr();
    start();
    std::string unknown = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(unknown, HasSubstr("\"Ghost Synth\""));
    EXPECT_THAT(sequencer.connections, IsEmpty());
    send({0xB0, 0x01, 0x40});
    EXPECT_THAT(delivered(), ElementsAre("controller ch0 1=64"));

    midi_alsa_seq.exit(FALSE);
    use_config("[sound]\nalsa_seq_connect = FLUID Synth:0\n");
    sequencer.connectResult = -EPERM;
    ::testing::internal::CaptureStderr();
    start();
    std::string refused = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(refused, HasSubstr("\"FLUID Synth:0\""));
    send({0xB0, 0x01, 0x41});
    EXPECT_THAT(delivered(), ElementsAre("controller ch0 1=64", "controller ch0 1=65"));
}

TEST_F(AlsaSeqDriver, ExitClosesTheClientAndForgetsAHalfSentMessage)
{
    start();
    send({0x90, 0x3C});
    midi_alsa_seq.exit(FALSE);
    EXPECT_EQ(sequencer.opens, sequencer.closes);
    send({0x64});
    EXPECT_THAT(delivered(), IsEmpty());

    start();
    send({0x64});
    EXPECT_THAT(delivered(), IsEmpty());
    send({0x90, 0x3C, 0x64});
    EXPECT_THAT(delivered(), ElementsAre("note on ch0 60 vel 100"));
}

}  // namespace
