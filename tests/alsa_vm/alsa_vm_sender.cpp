// Sends a known list of MIDI messages through the ALSA sequencer driver, byte by
// byte as the sequencer does, so that a real kernel sequencer can be listened to.
//
//   alsa_vm_sender [--connect DESTINATION] [--subscribe DESTINATION] [--play SKIN_PARENT]
//
// --connect puts the destination into Allegro's configuration, where the driver
// looks for it at start; without it the usual allegro.cfg search applies.
// --subscribe connects the driver's port to DESTINATION from outside, as a
// user does with aconnect, before anything is sent.
// --play drives the real sequencer instead, headless, with the skin found below
// SKIN_PARENT: start, a channel change, stop and EXIT clicked with the pointer;
// every byte it sends goes to the driver and is printed as "sent: B0 01 40".
// Exit status: 0 sent, 1 the driver did not start, 2 the subscription failed,
// 64 a usage error.
#include "Kalverosin4.h"
#include "MidiAlsaSeq.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Message = std::vector<int>;

constexpr int ControlChange = 0xB0;
constexpr int NoteOff = 0x80;
constexpr int NoteOn = 0x90;
constexpr int AllNotesOff = 0x7B;

// What the sequencer sends, in order. The VM test expects exactly these.
std::vector<Message> messages()
{
    std::vector<Message> list = {
        {ControlChange, 0x01, 0x40},
        {ControlChange, 0x01, 0x40},
        {NoteOff, 0x00, 0x7F},
        {NoteOn, 0x24, 0x40},
        {NoteOn, 0x24, 0x00},
    };
    for (int channel = 0; channel < 16; ++channel) list.push_back({ControlChange + channel, AllNotesOff, 0x00});
    list.push_back({NoteOn + 1, 0x30, 0x7F});
    return list;
}

void send(const Message& message)
{
    for (int byte : message) midi_alsa_seq.raw_midi(byte);
}

struct Options {
    const char* destination = nullptr;
    const char* subscribeTo = nullptr;
    const char* skinParent = nullptr;
};

bool parse_options(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--connect") == 0 && i + 1 < argc)
            options.destination = argv[++i];
        else if (std::strcmp(argv[i], "--subscribe") == 0 && i + 1 < argc)
            options.subscribeTo = argv[++i];
        else if (std::strcmp(argv[i], "--play") == 0 && i + 1 < argc)
            options.skinParent = argv[++i];
        else
            return false;
    }
    return true;
}

void configure_destination(const char* destination)
{
    std::string config = std::string("[sound]\nalsa_seq_connect = ") + destination + "\n";
    override_config_data(config.c_str(), static_cast<int>(config.size()));
}

// The driver keeps its client to itself, so look for it by name like aconnect does.
bool find_driver_port(snd_seq_t* seq, snd_seq_addr_t& address)
{
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        if (std::strcmp(snd_seq_client_info_get_name(client), "Kalverosin 4") != 0) continue;
        snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(port, -1);
        if (snd_seq_query_next_port(seq, port) < 0) return false;
        address = *snd_seq_port_info_get_addr(port);
        return true;
    }
    return false;
}

// What aconnect does: a client of its own subscribes the destination to the port.
bool subscribe_from_outside(const char* destination)
{
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return false;
    snd_seq_addr_t sender{}, receiver{};
    snd_seq_port_subscribe_t* subscription;
    snd_seq_port_subscribe_alloca(&subscription);
    bool subscribed = find_driver_port(seq, sender) && snd_seq_parse_address(seq, &receiver, destination) >= 0;
    if (subscribed) {
        snd_seq_port_subscribe_set_sender(subscription, &sender);
        snd_seq_port_subscribe_set_dest(subscription, &receiver);
        subscribed = snd_seq_subscribe_port(seq, subscription) >= 0;
    }
    snd_seq_close(seq);
    return subscribed;
}

std::vector<int> played;

void play_through_driver(int data)
{
    played.push_back(data);
    midi_alsa_seq.raw_midi(data);
}

class HeadlessSession {
public:
    explicit HeadlessSession(const char* skinParent)
        : schirm(), sequencer(schirm, Skin(skinParent))
    {
        sequencer.draw_first_picture();
    }
    ~HeadlessSession()
    {
        sequencer.skin.release();
        schirm.release();
    }
    void frame()
    {
        FrameTimer = 1;
        sequencer.pass();
    }
    void pointer(int x, int y, int buttons)
    {
        mouse_x = x;
        mouse_y = y;
        mouse_b = buttons;
        frame();
    }
    void click(int x, int y)
    {
        pointer(x, y, 0);
        pointer(x, y, 1);
        pointer(x, y, 0);
    }
    void ticks(int from, int to)
    {
        for (int t = from; t <= to; ++t) {
            timerCounter = t;
            FrameTimer = 0;
            sequencer.pass();
        }
    }

private:
    Schirm schirm;
    Sequencer sequencer;
};

void play_session(const char* skinParent)
{
    HeadlessSession session(skinParent);
    session.click(202, 437);
    session.ticks(1, 36);
    session.pointer(457, 452, 0);
    session.pointer(457, 452, 1);
    session.pointer(473, 452, 1);
    session.pointer(473, 452, 0);
    session.ticks(37, 60);
    for (int i = 0; i < 12; ++i) session.frame();
    session.click(202, 437);
    session.click(32, 437);
}

// STARTSTOP, four steps, MIDI CHANNEL dragged to 2, two steps, STARTSTOP, EXIT.
void play_sequencer(const char* skinParent)
{
    set_color_depth(16);
    screen = create_bitmap(640, 480);
    installTickPeriod = [](int) {};
    static MIDI_DRIVER tee = midi_alsa_seq;
    tee.raw_midi = play_through_driver;
    midi_driver = &tee;
    play_session(skinParent);
    destroy_bitmap(screen);
    screen = nullptr;
    for (size_t i = 0; i + 2 < played.size(); i += 3)
        std::printf("sent: %02X %02X %02X\n", played[i], played[i + 1], played[i + 2]);
    std::fflush(stdout);
}

bool start_driver()
{
    if (!midi_alsa_seq.detect(FALSE)) return false;
    return midi_alsa_seq.init(FALSE, midi_alsa_seq.def_voices) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--connect DESTINATION] [--subscribe DESTINATION] [--play SKIN_PARENT]\n",
                     argv[0]);
        return 64;
    }
    install_allegro(SYSTEM_NONE, &errno, atexit);
    if (options.destination) configure_destination(options.destination);
    if (!start_driver()) {
        std::fprintf(stderr, "alsa_vm_sender: the driver did not start: %s\n", allegro_error);
        return 1;
    }
    if (options.subscribeTo && !subscribe_from_outside(options.subscribeTo)) {
        std::fprintf(stderr, "alsa_vm_sender: could not subscribe %s to the driver's port\n", options.subscribeTo);
        midi_alsa_seq.exit(FALSE);
        return 2;
    }
    if (options.skinParent) {
        play_sequencer(options.skinParent);
        midi_alsa_seq.exit(FALSE);
        return 0;
    }
    std::vector<Message> list = messages();
    for (const Message& message : list) send(message);
    midi_alsa_seq.exit(FALSE);
    std::printf("alsa_vm_sender: sent %zu messages\n", list.size());
    return 0;
}
END_OF_MAIN()
