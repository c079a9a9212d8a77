// The real program in its window under Xvfb: the first picture, the keyboard,
// and the MIDI it sends through the capture driver (the structure and order of
// the bytes, never their timing).
#include "e2e.h"
#include "headless.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Messages = std::vector<std::vector<int>>;
constexpr PanelPlace Startstop = panel_place("startstop"), Exit = panel_place("exit");
Messages step_of_the_rows(int noteOff) { return {{0xB0, 1, 0x40}, {0xB0, 1, 0x40}, {0x80, noteOff, 0x7F}, {0x90, 0x24, 0x40}}; }

// Index of the first All Notes Off sweep over the 16 channels at or after `from`, or -1.
int find_sweep(const Messages& messages, int from)
{
    Messages sweep;
    for (int channel = 0; channel < 16; ++channel) sweep.push_back({0xB0 + channel, 0x7B, 0x00});
    auto found = std::search(messages.begin() + from, messages.end(), sweep.begin(), sweep.end());
    return found == messages.end() ? -1 : static_cast<int>(found - messages.begin());
}

std::string new_fifo()  // in a directory of its own, for a master to write to
{
    char pattern[] = "/tmp/kalverosin-master-XXXXXX";
    std::string fifo = std::string(mkdtemp(pattern)) + "/master";
    return mkfifo(fifo.c_str(), 0600) == 0 ? fifo : "";
}

// The real program following a master that writes to its capture input: the
// Start and clocks play the steps, every sixth clock one; the Stop sweeps. The
// master waits for each step to leave: clocks read together send only the newest.
TEST(FollowTest, TheRealProgramPlaysToTheClocksOfAMaster)
{
    const std::string fifo = new_fifo();
    Program program({}, "capture_input = " + fifo + "\n[kalverosin4]\nfollow_clock = yes\n");
    wait_for_first_picture(program);
    std::ofstream master(fifo);
    master << '\xFA' << std::flush;
    for (int clock = 0; clock < 60; ++clock) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the master's tempo: 500 BPM
        master << '\xF8' << std::flush;
        if (clock % 6 == 0) {
            ASSERT_TRUE(wait_until([&] { return program.captured_messages().size() >= 4u * (clock / 6 + 1); },
                                   std::chrono::seconds(20)));
        }
    }
    master << '\xFC' << std::flush;
    ASSERT_TRUE(wait_until([&] { return find_sweep(program.captured_messages(), 0) >= 0; }, std::chrono::seconds(20)));
    Messages messages = program.captured_messages();
    ASSERT_EQ(find_sweep(messages, 0), 40) << "ticks 0 to 118: ten steps";
    for (int i = 4; i < 40; i += 4) EXPECT_EQ(Messages(messages.begin() + i, messages.begin() + i + 4), step_of_the_rows(0x24)) << i;
    fs::remove_all(fs::path(fifo).parent_path());
}

// With the pointer in the window no key but Space does anything; Space and a press and release with
// nothing between (xdotool click) each start the rows, which play every twelve ticks, and stop them with a
// sweep; such a click on EXIT sweeps and ends the program, which has said nothing and kept nothing.
TEST(DesktopTest, SpaceAndClicksWithoutLengthPlayStopAndExit)
{
    Program program;
    wait_for_first_picture(program);
    auto stops = [&] {
        Messages messages = program.captured_messages();
        std::vector<int> sweeps;
        for (int at = find_sweep(messages, 0); at >= 0; at = find_sweep(messages, at + 16)) sweeps.push_back(at);
        return sweeps;
    };
    ASSERT_TRUE(program.hover(Startstop.x + 7, Startstop.y + 7, Startstop.x, Startstop.y));
    shell("xdotool key --delay 20 Return s x Escape Up Down 1 2 F1");
    for (const std::string toggle : {"key space", "click 1"}) {
        size_t before = program.captured_messages().size(), stopped = stops().size();
        shell("xdotool " + toggle);
        // Four steps take longer than the button's lock after a toggle (10 frames).
        auto played = [&] { return program.captured_messages().size() >= before + 16; };
        EXPECT_TRUE(wait_until(played, std::chrono::seconds(20))) << toggle;
        shell("xdotool " + toggle);
        EXPECT_TRUE(wait_until([&] { return stops().size() == stopped + 1; }, std::chrono::seconds(20))) << toggle;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(program.hover(Exit.x + 7, Exit.y + 7, Exit.x, Exit.y));
    shell("xdotool click 1");
    EXPECT_EQ(program.wait_exit(std::chrono::seconds(20)), 0) << program.report();
    EXPECT_EQ(program.error_output(), "") << "a start without a sound card has nothing to say";
    EXPECT_FALSE(fs::exists(program.directory + "/.local")) << "without the options nothing is kept";
    Messages messages = program.captured_messages();
    std::vector<int> at = stops();
    ASSERT_EQ(at.size(), 3u);
    EXPECT_EQ(at[2], at[1] + 16) << "nothing from the rows after the stop, then EXIT's sweep";
    for (int i = 0; i < at[1]; i += 4) {
        i += i == at[0] ? 16 : 0;
        EXPECT_EQ(Messages(messages.begin() + i, messages.begin() + i + 4), step_of_the_rows(i ? 0x24 : 0)) << i;
    }
}

// Patterns kept in the panel file: a click on pattern-2 while stopped plays it from the start; a Program
// Change through the capture input chooses pattern 3, which comes at a bar line; the file keeps it.
TEST(PatternTest, AClickAndAProgramChangeChooseThePatternThatPlays)
{
    const std::string fifo = new_fifo(), dir = fs::path(fifo).parent_path().string(), panel = dir + "/panel";
    std::ofstream(panel) << "kalverosin4-panel 2\nplaying 1\npattern 2\nrow note\nnotes d3 d3 d3\n"
                            "pattern 3\nrow note\nnotes e3 e3 e3\nend\n";
    Program program({}, "capture_input = " + fifo + "\n[kalverosin4]\npatterns = yes\nmidi_clock = yes\nremember_panel = yes\n"
                        "panel_file = " + panel + "\n");
    ASSERT_NE(program.find_window(), 0ul) << program.report();
    constexpr PanelPlace First = panel_place("pattern-1"), Second = panel_place("pattern-2");
    // A pixel of a pattern's button above the pointer's tip.
    auto at = [](const std::vector<unsigned short>& shot, PanelPlace p) { return shot.empty() ? 0 : shot[(p.y + 4) * 640 + p.x + 7]; };
    std::vector<unsigned short> shown;  // the strip drawn: pattern 1 plays, 2 holds something
    ASSERT_TRUE(wait_until([&] { return at(shown = program.screenshot(), First) != at(shown, Second); },
                           std::chrono::seconds(20)));
    // A move made during the start-up pause can reach the program misplaced: one it has seen first.
    ASSERT_TRUE(program.hover(Startstop.x + 7, Startstop.y + 7, Startstop.x, Startstop.y));
    shown = program.screenshot();  // the program draws its pointer: now far from the strip
    EXPECT_TRUE(program.press_until(Second.x, Second.y, [&] { return at(program.screenshot(), Second) != at(shown, Second); }));
    auto notes = [&] {
        std::vector<int> keys;
        for (const std::vector<int>& m : program.captured_messages()) if (m[0] == 0x90) keys.push_back(m[1]);
        return keys;
    };
    EXPECT_TRUE(program.press_until(Startstop.x, Startstop.y, [&] { return notes().size() >= 2; }));
    std::ofstream(fifo) << "\xC0\x02" << std::flush;
    ASSERT_TRUE(wait_until([&] { return notes().back() == 40; }, std::chrono::seconds(20))) << program.report();
    std::vector<int> keys = notes();
    EXPECT_TRUE(std::all_of(keys.begin(), std::find(keys.begin(), keys.end(), 40), [](int k) { return k == 38; }));
    // A step may be lost to a stalled loop, never a clock: a bar holds 96, the first on its first tick.
    Messages sent = program.captured_messages();
    auto e3 = std::find(sent.begin(), sent.end(), std::vector<int>{0x90, 40, 64});
    EXPECT_EQ((std::count(sent.begin(), e3, std::vector<int>{0xF8}) - 1) % 96, 0);
    EXPECT_TRUE(program.press_until(Exit.x, Exit.y, [&] { return !program.running(); })) << program.report();
    EXPECT_NE(contents(panel).find("\nplaying 3\n"), std::string::npos);
    fs::remove_all(dir);
}

// Whether the program itself, not the shell before it, holds a signal back or has its handler for it.
bool takes_care_of(pid_t pid, int signal)
{
    std::string status = shell("grep -E '^(Name|SigBlk|SigCgt):' /proc/" + std::to_string(pid) + "/status");
    unsigned long long held = 0, caught = 0;
    return std::sscanf(status.c_str(), "Name: kalverosin4 SigBlk: %llx SigCgt: %llx", &held, &caught) == 2 &&
           ((held | caught) >> (signal - 1) & 1);
}

// Whenever a signal comes, the program ends as by EXIT (the clock's Stop, the
// sweep, the panel kept), and then by the signal; so it does, and so does EXIT
// (signal 0), while a master floods the capture input as fast as the FIFO takes
// it (stops, Song Positions at their farthest, continues, clocks, any bytes).
// The window's close button ends it as EXIT does, status 0.
TEST(SignalTest, EndsTheProgramAsExitDoesAndWithTheSignalsStatus)
{
    signal(SIGPIPE, SIG_IGN);  // a flood ends with the program
    std::string flood;
    for (int i = 0; flood.size() < 4096; ++i) flood += "\xFC\xF2\x7F\x7F\xFB" + std::string(20, '\xF8') + char(i * 79 % 251);
    const std::tuple<int, std::string, bool> cases[] = {{SIGTERM, "starting", true}, {SIGINT, "stopped", false},
        {SIGHUP, "playing", true}, {0, "closed", true}, {SIGTERM, "flooded", true}, {0, "flooded", true}};
    for (const auto& [signal, moment, options] : cases) {
        const std::string fifo = moment == "flooded" ? new_fifo() : "";
        Program program({}, (fifo.empty() ? "" : "capture_input = " + fifo + "\n") + "[kalverosin4]\nfollow_clock = " +
                                (fifo.empty() ? "no" : "yes") + (options ? "\nmidi_clock = yes\nremember_panel = yes\n" : "\n"));
        if (moment == "starting") {
            ASSERT_TRUE(wait_until([&] { return takes_care_of(program.pid, signal); }, std::chrono::seconds(20)));
        } else {
            wait_for_first_picture(program);
        }
        if (moment == "playing" || moment == "closed") {
            EXPECT_TRUE(program.press_until(Startstop.x, Startstop.y,
                                            [&] { return program.captured_messages().size() >= 20; }));
        }
        int master = fifo.empty() ? -1 : open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        std::thread writer([&] { while (master >= 0 && write(master, flood.data(), flood.size()) > 0) continue; });
        if (signal) kill(program.pid, signal);
        if (moment == "closed") program.close_window();
        EXPECT_TRUE(signal || moment == "closed" || program.press_until(Exit.x, Exit.y, [&] { return !program.running(); })) << moment;
        EXPECT_EQ(program.wait_exit(std::chrono::seconds(20)), signal ? 128 + signal : 0) << moment << ": " << program.report();
        program.stop();
        writer.join();
        Messages messages = program.captured_messages();
        int sweep = find_sweep(messages, 0);
        ASSERT_GE(sweep, options ? 1 : 0) << moment;
        EXPECT_TRUE(!options || messages[sweep - 1] == std::vector<int>{0xFC}) << moment;
        EXPECT_EQ(fs::exists(program.directory + "/.local/state/kalverosin4/panel"), options) << moment;
        if (master >= 0) close(master), fs::remove_all(fs::path(fifo).parent_path());
    }
}

}  // namespace
