#include "MidiAlsaSeq.h"

#include "ConfigValue.h"
#include "Report.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <utility>
#include <cstdio>
#include <string>

const AlsaSeqCalls alsaLibSeqCalls = {
    snd_seq_open,          snd_seq_set_client_name,     snd_seq_create_simple_port, snd_seq_parse_address,
    snd_seq_connect_to,    snd_seq_event_output_direct, snd_seq_close,           snd_seq_connect_from,
    snd_seq_event_input,   snd_seq_set_client_pool_input,
};

AlsaSeqCalls alsaSeqCalls = alsaLibSeqCalls;

namespace {

constexpr const char* ClientName = "Kalverosin 4";
constexpr const char* PortName = "MIDI Out";
constexpr const char* InputPortName = "MIDI In";
// Events the kernel holds for the client until it reads them: the most it
// allows (200 by default). One that finds the pool full costs every event held.
constexpr size_t InputPool = 2000;
// Only system exclusive messages need more; longer ones go out in pieces of this size.
constexpr size_t EncoderBufferSize = 256;

struct Client {
    snd_seq_t* seq = nullptr;
    snd_midi_event_t* encoder = nullptr;
    int port = -1;
    bool outputFailureReported = false;
    snd_midi_event_t* decoder = nullptr;  // only while listening to a master
};

Client client;
int probeError = 0;  // why the last probe could not open the sequencer; 0 when it could

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

std::string heldBack;

void hold_alsa_error(const char*, int, const char*, int, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    heldBack += (heldBack.empty() ? "" : "; ") + std::string(line);
}

// Without a sequencer alsa-lib prints its own complaint; Allegro then tries the
// next driver, so that would only alarm the user. Input is opened too, so that
// following a master later needs no second client: without an input port
// nothing can arrive.
int open_quietly(snd_seq_t** seq)
{
    snd_lib_error_handler_t previous = snd_lib_error;
    snd_lib_error_set_handler(ignore_alsa_error);
    int result = alsaSeqCalls.open(seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(previous);
    return result;
}

// Every failure of the driver goes through here, named by the call that failed;
// Allegro's error text says the same for whoever asks it.
void report_failure(const char* operation, int error)
{
    char text[ALLEGRO_ERROR_SIZE];
    std::snprintf(text, sizeof text, "%s: %s", operation, snd_strerror(error));
    ustrzcpy(allegro_error, ALLEGRO_ERROR_SIZE, text);
    report(Severity::Warning, text);
}

int create_output_port(snd_seq_t* seq)
{
    int result = alsaSeqCalls.set_client_name(seq, ClientName);
    if (result < 0) {
        report_failure("cannot name its ALSA sequencer client", result);
        return result;
    }
    result = alsaSeqCalls.create_simple_port(seq, PortName, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (result < 0) report_failure("cannot create its ALSA output port", result);
    return result;
}

bool open_client()
{
    snd_seq_t* seq = nullptr;
    int result = open_quietly(&seq);
    if (result < 0) {
        report_failure("cannot open the ALSA sequencer", result);
        return false;
    }
    int port = create_output_port(seq);
    snd_midi_event_t* encoder = nullptr;
    if (port >= 0 && (result = snd_midi_event_new(EncoderBufferSize, &encoder)) < 0)
        report_failure("cannot make its MIDI event encoder", result);
    if (port < 0 || !encoder) {
        alsaSeqCalls.close(seq);
        return false;
    }
    client = Client{seq, encoder, port, false, nullptr};
    return true;
}

void close_client()
{
    if (client.encoder) snd_midi_event_free(client.encoder);
    if (client.decoder) snd_midi_event_free(client.decoder);
    if (client.seq) alsaSeqCalls.close(client.seq);
    client = Client{};
}

struct Connection {
    const char* key;  // in [sound]
    const char* direction;
    const char* toOrFrom;
    int (*AlsaSeqCalls::*connect)(snd_seq_t*, int, int, int);
};

const Connection OutputConnection = {"alsa_seq_connect", "output", "to", &AlsaSeqCalls::connect_to};
const Connection InputConnection = {"alsa_seq_connect_in", "input", "from", &AlsaSeqCalls::connect_from};

// A missing synth or master must not cost the user the sequencer: they can
// still connect the port later with aconnect or a patchbay.
void connect_configured(const Connection& connection, int port)
{
    const char* other = config_value("sound", connection.key);
    if (!other || !*other) return;
    snd_seq_addr_t address{};
    const std::string cannot = std::string("cannot connect the MIDI ") + connection.direction;
    if (alsaSeqCalls.parse_address(client.seq, &address, other) < 0) {
        report(Severity::Warning, cannot + ": no ALSA client named \"" + other + "\" (see aconnect -l)");
        return;
    }
    int result = (alsaSeqCalls.*connection.connect)(client.seq, port, address.client, address.port);
    if (result == -ENOENT)
        report(Severity::Warning, cannot + ": there is no ALSA port " + std::to_string(address.client) + ":" +
                                      std::to_string(address.port) + " (see aconnect -l)");
    else if (result < 0)
        report(Severity::Warning,
               cannot + " " + connection.toOrFrom + " \"" + other + "\": " + snd_strerror(result));
}

// Called for every dropped event, possibly many per second: say it once.
void report_output_failure(int error)
{
    if (client.outputFailureReported) return;
    client.outputFailureReported = true;
    report(Severity::Warning, std::string("MIDI events are being dropped: ") + snd_strerror(error));
}

// The client is non-blocking, so a full kernel pool drops the event instead of
// stalling the main loop.
void send_to_subscribers(snd_seq_event_t& event)
{
    snd_seq_ev_set_source(&event, client.port);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    int result = alsaSeqCalls.event_output_direct(client.seq, &event);
    if (result < 0) report_output_failure(result);
}

int alsa_seq_detect(int input)
{
    if (input) return FALSE;
    if (client.seq) return TRUE;
    snd_seq_t* seq = nullptr;
    probeError = open_quietly(&seq);
    if (probeError < 0) {
        ustrzcpy(allegro_error, ALLEGRO_ERROR_SIZE, "No ALSA sequencer available");
        return FALSE;
    }
    alsaSeqCalls.close(seq);
    return TRUE;
}

int alsa_seq_init(int input, int)
{
    if (input) return -1;
    if (client.seq) return 0;
    if (!open_client()) return -1;
    connect_configured(OutputConnection, client.port);
    return 0;
}

void alsa_seq_exit(int input)
{
    if (!input) close_client();
}

void alsa_seq_raw_midi(int data)
{
    if (!client.seq) return;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    if (snd_midi_event_encode_byte(client.encoder, data & 0xFF, &event) == 1) send_to_subscribers(event);
}

std::string what_to_do_without_sequencer()
{
    const std::string cannot = std::string("cannot open the ALSA sequencer (") + snd_strerror(probeError) + ")";
    switch (probeError) {
    case 0: return "no MIDI driver could be started; name one with midi_card in [sound] (see kalverosin4(1))";
    case -ENOENT:
        return cannot + ": there is no /dev/snd/seq; load the kernel's sequencer module (sudo modprobe snd-seq), "
                        "start Kalverosin 4 again and connect its port to a synth (aconnect)";
    case -EACCES:
    case -EPERM:
        return cannot + ": join the audio group (sudo usermod -aG audio $USER), log in again and start Kalverosin 4 "
                        "again";
    default: return cannot + ": start Kalverosin 4 again once the sequencer works (aconnect -l lists its clients)";
    }
}

}  // namespace

void say_why_there_is_no_midi_output()
{
    if (midi_driver && midi_driver->id != MIDI_NONE) return;
    report(Severity::Warning, "no MIDI output (the panel shows NO SOUND): " + what_to_do_without_sequencer());
}

bool alsa_seq_listen()
{
    if (client.decoder) return true;
    if (!client.seq) {
        report(Severity::Warning, "cannot listen to MIDI input: the ALSA sequencer client is not open");
        return false;
    }
    snd_midi_event_t* decoder = nullptr;
    int result = snd_midi_event_new(0, &decoder);
    if (result < 0) {
        report_failure("cannot make its MIDI event decoder", result);
        return false;
    }
    result = alsaSeqCalls.create_simple_port(client.seq, InputPortName,
                                             SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (result < 0) {
        report_failure("cannot create its ALSA input port", result);
        snd_midi_event_free(decoder);
        return false;
    }
    // Whole messages, so that no event leans on the status byte of another.
    snd_midi_event_no_status(decoder, 1);
    int pooled = alsaSeqCalls.set_client_pool_input(client.seq, InputPool);
    if (pooled < 0) report_failure("cannot make room for a burst of MIDI input (it may be lost)", pooled);
    client.decoder = decoder;
    connect_configured(InputConnection, result);
    return true;
}

int alsa_seq_read_input(unsigned char* bytes, int size)
{
    if (!client.decoder) return -1;
    snd_seq_event_t* event = nullptr;
    // After an overrun, or an event too long for alsa-lib's buffer, the next call reads on.
    if (alsaSeqCalls.event_input(client.seq, &event) < 0 || !event) return -1;
    long length = snd_midi_event_decode(client.decoder, bytes, size, event);
    return length > 0 ? static_cast<int>(length) : 0;
}

int alsa_seq_input_descriptors(pollfd* fds, int room)
{
    if (!client.decoder) return 0;
    if (snd_seq_event_input_pending(client.seq, 0) > 0) return -1;
    return snd_seq_poll_descriptors(client.seq, fds, static_cast<unsigned>(room), POLLIN);
}

void hold_back_alsa_messages()
{
    heldBack.clear();
    snd_lib_error_set_handler(hold_alsa_error);
}

std::string release_alsa_messages()
{
    snd_lib_error_set_handler(nullptr);
    return std::move(heldBack);
}

MIDI_DRIVER midi_alsa_seq = {
    MIDI_ALSA_SEQ,
    "ALSA Sequencer",
    "ALSA sequencer client Kalverosin 4",
    "ALSA Sequencer",
    16, 0, 16, 16, -1, -1,
    alsa_seq_detect,
    alsa_seq_init,
    alsa_seq_exit,
    nullptr,
    nullptr,
    alsa_seq_raw_midi,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};
