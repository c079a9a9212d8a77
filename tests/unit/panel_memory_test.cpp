// The panel kept between runs: a pattern made with the pointer comes back as
// it was, and a bad or unwritable file never costs a pattern.
#include "PanelMemory.h"
#include "headless.h"

#include <gmock/gmock.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

int (*const rename_no_replace_of_the_system)(const char*, const char*) = renameNoReplace;

class PanelMemoryTest : public SequencerTest {
protected:
    fs::path dir;
    std::string file;
    bool keepable = true;  // what the last restart said of the file
    void SetUp() override
    {
        SequencerTest::SetUp();
        char pattern[] = "/tmp/kalverosin-panel-XXXXXX";
        dir = mkdtemp(pattern);
        file = (dir / "state" / "panel").string();
        fs::create_directory(dir / "state");
        sequencer->panelFile = file;
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        SequencerTest::TearDown();
    }
    // The next run of the program: a fresh panel that takes what the file keeps.
    std::string restart()
    {
        delete sequencer;
        pointer_at(-100, -100);
        sequencer = new Sequencer(*schirm, skin);
        std::string said = stderr_of([&] { keepable = restore_panel(*sequencer, file); });
        sequencer->draw_first_picture();
        return said;
    }
    // Drags a marker of the loop bar from one step to another (steps from 0).
    void move_marker(ButLed& bar, int from, int to)
    {
        pointer_at(bar.x + 15 * from + 7, bar.y + 7, 1);
        frame();
        pointer_at(bar.x + 15 * to + 7, bar.y + 7, 1);
        frame();
        release();
        frame();
    }
    template <class Row>
    void change_row(Row& row, int seed, std::initializer_list<Fader*> lines)
    {
        drag(row.rateFader, seed);
        drag(row.stepFader, 3 * seed + 1);
        drag(row.directFader, seed % 3);
        for (int k = seed; k < StepsPerRow; k += 3) click(row.stepButtons[k].x + 7, row.stepButtons[k].y + 7 + 15 * (k / 3 % 3));
        move_marker(row.loopBar, 7, 8 + seed);
        move_marker(row.loopBar, 0, seed);
        int n = 0;
        for (Fader* line : lines) drag(*line, std::min(line->max, 10 * seed + 3 * n++));
    }
    // STARTSTOP, four beats of ticks, STARTSTOP and its save written: the bytes sent.
    std::vector<int> play()
    {
        MidiRecorder::clear();
        click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        tick_passes(1, 4 * 48);
        std::vector<int> sent = MidiRecorder::bytes;
        for (int i = 0; i <= lockframes; ++i) frame();
        click(s().cockpit.startstopButton.x + 7, s().cockpit.startstopButton.y + 7);
        finish_panel_saves();
        return sent;
    }
};

TEST_F(PanelMemoryTest, APatternMadeWithThePointerComesBackInTheNextRun)
{
    Row_Mode& upper = s().upperControllerRow;
    Row_Mode& lower = s().lowerControllerRow;
    Row_Note& note = s().noteRow;
    Row_Gate& gate = s().gateRow;
    change_row(upper, 1, {&upper.lines.valueFader1, &upper.lines.valueFader2, &upper.lines.valueFader3, &upper.lines.controllerFader});
    change_row(lower, 2, {&lower.lines.valueFader1, &lower.lines.valueFader2, &lower.lines.valueFader3, &lower.lines.controllerFader});
    change_row(note, 3, {&note.lines.noteFader1, &note.lines.octaveFader1, &note.lines.noteFader2, &note.lines.octaveFader2, &note.lines.noteFader3,
                         &note.lines.octaveFader3});
    change_row(gate, 4, {&gate.lines.velocityFader1, &gate.lines.velocityFader2, &gate.lines.velocityFader3});
    drag(s().cockpit.speedTensFader, 9);
    drag(s().cockpit.speedUnitsFader, 5);
    drag(s().cockpit.channelFader, 7);
    pointer_at(-100, -100);
    s().draw_first_picture();
    BITMAP* saved = create_bitmap(640, 480);
    blit(schirm->surface, saved, 0, 0, 0, 0, 640, 480);
    std::vector<int> played = play();
    ASSERT_TRUE(fs::exists(file)) << "kept when the transport stopped";

    EXPECT_EQ(restart(), "");
    EXPECT_EQ(differing_pixels(schirm->surface, 0, 0, saved, 0, 0, 640, 480), 0);
    destroy_bitmap(saved);
    ASSERT_FALSE(installedPeriods.empty());
    EXPECT_EQ(installedPeriods.back(), tick_period(s().cockpit.tempo()));
    EXPECT_EQ(play(), played);
}

// Every pattern and the one that plays come back, also where patterns are off.
TEST_F(PanelMemoryTest, ThePatternsAndTheOneThatPlaysComeBack)
{
    s().patterns.on = true;
    s().draw_first_picture();
    for (int n : {2, 9}) (s().patterns.bank.patterns[n] = pattern_of_rows(s())).rows[n % 4].values = {n, 2 * n, 3 * n};
    click(panel_place("pattern-10").x + 7, panel_place("pattern-10").y + 7);
    drag(s().noteRow.lines.noteFader1, 5);
    ASSERT_TRUE(save_panel(s(), file));
    std::string saved = contents(file);
    EXPECT_EQ(restart(), "");
    EXPECT_EQ(s().patterns.bank.playing, 9);
    EXPECT_EQ(s().noteRow.lines.noteDis1.value, 41);
    ASSERT_TRUE(save_panel(s(), file));
    EXPECT_EQ(contents(file), saved);
}

TEST_F(PanelMemoryTest, ABadFileIsNamedWithItsLineKeptAsideAndWhatItCannotGiveStartsAsUsual)
{
    struct Case { const char *text, *complaint; int tempo; };
    const Case cases[] = {
        {"kalverosin4-panel 1\nspeed 90\nrow note\nrate 17\nend\n", "line 4: rate 17 is not", 90},
        {"kalverosin4-panel 1\nspeed 90\nrow note\nrate 3", "line 4: rate 3 is not", 90},
        {"kalverosin4-panel 1\nspeed 90\nrow note\n", "line 3: the file ends early", 90},
        {"kalverosin4-panel 1\nspeed 90\nrow note\nnotes h4 c3 c3\nend\n", "line 4: h4 is not a note", 90},
        {"kalverosin4-panel 1\nspeed 90\nrow note\nnotes c3 c c3\nend\n", "line 4: c is not a note", 90},
        {"kalverosin4-panel 3\nspeed 90\nend\n", "line 1: it was written by a newer", 120},
        {"kalverosin4-panel 2\nspeed 90\npattern 17\nend\n", "line 3: pattern 17 is not a pattern of 1 to 16", 90},
        {"kalverosin4-panel 2\nspeed 90\nplaying 0\nend\n", "line 3: playing 0 is not a pattern", 90},
        {"kalverosin4-panel 2\nspeed 90\nswing 76\nend\n", "line 3: swing 76 is not a swing of 50 to 75", 90},
        {"\x89PNG\r\n\x1b[2J", "line 1: this is not a Kalverosin 4 panel file", 120},
        {"", "line 1: the file is empty", 120},
    };
    for (const Case& c : cases) {
        std::ofstream(file) << c.text;
        std::string said = restart();
        EXPECT_NE(said.find("panel file " + file + ", " + c.complaint), std::string::npos) << said;
        EXPECT_EQ(said.find('\x1b'), std::string::npos) << "nothing the file holds reaches the terminal as it is";
        EXPECT_EQ(s().cockpit.tempo(), c.tempo) << said;
        EXPECT_EQ(s().noteRow.rate, 12) << said;
        EXPECT_EQ(contents(file + ".bad"), c.text) << "kept aside before anything overwrites it";
        EXPECT_FALSE(fs::exists(file));
        fs::remove(file + ".bad");
    }
}

int refused = 0;  // why renameat2 fails here; 0: it works
int refusing_rename(const char* from, const char* to) { return (errno = refused) ? -1 : rename_no_replace_of_the_system(from, to); }

// A bad file is kept aside without replacing any name, also where renameat2 is
// refused; where it cannot be kept aside, it is left as it is and the panel is
// not kept there, so that no save writes over it.
TEST_F(PanelMemoryTest, ABadFileIsNeverWrittenOverEvenWhereItCannotBeKeptAside)
{
    const std::tuple<int, int, const char*> cases[] = {{0, 1, ".bad.1"}, {ENOSYS, 2, ".bad.2"}, {EPERM, 0, ".bad"}, {0, 1000, ""}, {EINVAL, 1000, ""}};
    auto aside = [&](int n) { return file + ".bad" + (n ? "." + std::to_string(n) : ""); };
    renameNoReplace = refusing_rename;
    for (const auto& [why, taken, keptAs] : cases) {
        refused = why;
        for (int n = 0; n < taken; ++n) std::ofstream(aside(n)) << n;
        std::ofstream(file) << "not a panel";
        std::string said = restart();
        EXPECT_EQ(keepable, *keptAs != 0) << said;
        EXPECT_EQ(contents(file + keptAs), "not a panel") << said;
        EXPECT_EQ(said.find("cannot keep " + file + " aside") != std::string::npos, !*keptAs) << said;
        for (int n = 0; n < taken; ++n) EXPECT_EQ(contents(aside(n)), std::to_string(n));
        for (const auto& left : fs::directory_iterator(dir / "state")) fs::remove(left);
    }
    renameNoReplace = rename_no_replace_of_the_system;
}

// Anything but a regular file of at most 64 KiB is named and left as it is, at
// the start and at a save; nothing is made beside it.
TEST_F(PanelMemoryTest, APathThatHoldsNoPanelFileIsNamedAndLeftAsItIs)
{
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"it is a directory, not a regular file", [&] { return fs::create_directory(file); }},
        {"it is a FIFO, not a regular file", [&] { return mkfifo(file.c_str(), 0644) == 0; }},
        {"it is a character device, not a regular file",  // one like /dev/null; only root may make it
         [&] { return mknod(file.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0 || getuid() != 0; }},
        {"it is larger than 64 KiB", [&] { return !!(std::ofstream(file) << std::string(65537, '#')); }},
    };
    for (const auto& [what, make] : cases) {
        struct stat before {}, after {};
        ASSERT_TRUE(make()) << what;
        if (lstat(file.c_str(), &before) != 0) continue;
        std::string said = restart() + stderr_of([&] { EXPECT_FALSE(save_panel(s(), file)); });
        EXPECT_FALSE(keepable) << what;
        EXPECT_NE(said.find("panel file " + file + ": " + what), std::string::npos) << said;
        EXPECT_NE(said.find("cannot keep the panel in " + file + ": " + what), std::string::npos) << said;
        lstat(file.c_str(), &after);
        EXPECT_TRUE(before.st_ino == after.st_ino && before.st_mode == after.st_mode) << what;
        EXPECT_EQ(before.st_size, after.st_size) << what;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "state"), {}), 1) << said;
        fs::remove_all(file);
    }
}

// A file written by hand sets the rows it names. Through a symbolic link the
// target is read, written in its own mode, and kept aside when bad; the link
// stays, also where its target is still to come.
TEST_F(PanelMemoryTest, AFileWrittenByHandBehindASymbolicLinkSetsTheRowsItNamesAndTheLinkStays)
{
    fs::path target = dir / "patterns" / "live.panel";
    fs::create_directories(target.parent_path());
    fs::create_symlink("../patterns/live.panel", file);
    std::ofstream(target) << "kalverosin4-panel 1\nswing 62\nrow upper-controller\ncontroller 7\n"
                             "row lower-controller\ncontroller 9\nvalues 1 2 3\nend\n";
    fs::permissions(target, fs::perms(0640));
    EXPECT_EQ(restart(), "");
    EXPECT_EQ(s().upperControllerRow.lines.controllerDis.value, 7);
    EXPECT_EQ(s().lowerControllerRow.lines.controllerDis.value, 9);
    EXPECT_EQ(s().lowerControllerRow.lines.valueDis3.value, 3);
    EXPECT_EQ(s().upperControllerRow.lines.valueDis3.value, 64);
    EXPECT_TRUE(s().patterns.bank.playing == 0 && !s().patterns.bank.patterns[1].used) << "format 1: pattern 1 alone";
    s().cockpit.channelFader.set(5);
    ASSERT_TRUE(save_panel(s(), file));
    EXPECT_NE(contents(target).find("channel 5\nswing 62\n"), std::string::npos) << "kept with swing off";
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    std::ofstream(target) << "speed 90\n";
    std::string said = restart();
    EXPECT_NE(said.find("kept aside as " + target.string() + ".bad;"), std::string::npos) << said;
    ASSERT_TRUE(save_panel(s(), file));
    EXPECT_TRUE(fs::is_symlink(file) && fs::is_regular_file(target));
}

// Two programs saving one file: it always holds one save whole, and no temporary is left.
TEST_F(PanelMemoryTest, OfTwoProgramsSavingOneFileTheLastSaveWinsWhole)
{
    std::string saved[2];
    for (int k : {1, 0}) {
        s().cockpit.channelFader.set(1 + 8 * k);
        ASSERT_TRUE(save_panel(s(), file));
        saved[k] = contents(file);
    }
    pid_t other = fork();
    s().cockpit.channelFader.set(other == 0 ? 9 : 1);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(save_panel(s(), file));
        EXPECT_THAT(contents(file), ::testing::AnyOfArray(saved));
    }
    if (other == 0) _exit(0);
    waitpid(other, nullptr, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "state"), {}), 1);
}

TEST_F(PanelMemoryTest, AFailedSaveSaysSoOnceAndKeepsThePatternSavedBefore)
{
    ASSERT_TRUE(save_panel(s(), file));
    std::string before = contents(file);
    rlimit was{};
    getrlimit(RLIMIT_FSIZE, &was);
    rlimit full = {200, was.rlim_max};  // a full disk: no file grows beyond 200 bytes
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &full);
    s().cockpit.channelFader.set(9);
    std::string said = stderr_of([&] { EXPECT_FALSE(save_panel(s(), file)); });
    setrlimit(RLIMIT_FSIZE, &was);
    EXPECT_EQ(said, "Kalverosin 4: cannot keep the panel in " + file + ": File too large.\n");
    EXPECT_EQ(contents(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "state"), {}), 1) << "no temporary left behind";

}

// A few thousand mutated panel files (lines cut, numbers out of range, binary,
// very long lines) through the reader, also in the sanitizer build: each is
// taken, or refused with the file and the line at fault named.
TEST_F(PanelMemoryTest, MutatedFilesAreTakenOrRefusedWithTheirLineNamed)
{
    ASSERT_TRUE(save_panel(s(), file));
    const std::string whole = contents(file);
    const char* numbers[] = {"-1", "0", "17", "128", "250", "2147483648", "-99999999999999999999", "1e3", "0x10", "+5"};
    const std::string named = "Kalverosin 4: panel file " + file;
    auto names_its_line = [&](const std::string& said) {
        if (said.rfind("Kalverosin 4: the panel file is kept aside as " + file + ".bad;", 0) == 0) return true;
        const std::string rest = said.rfind(named, 0) == 0 ? said.substr(named.size()) : "";
        return rest.rfind(": it is larger than 64 KiB", 0) == 0 ||
               (rest.rfind(", line ", 0) == 0 && rest[7] >= '0' && rest[7] <= '9');
    };
    std::mt19937 random(20261207);
    std::FILE* terminal = stderr;
    for (int round = 0; round < 4000; ++round) {
        std::string text = whole;
        for (int n = 1 + random() % 3; n > 0; --n) {
            size_t at = random() % (text.size() + 1), digits = text.find_first_of("0123456789", at), kind = random() % 4;
            if (kind == 0) text.resize(at);
            if (kind == 1 && digits != std::string::npos)
                text.replace(digits, text.find_first_not_of("0123456789", digits) - digits, numbers[random() % 10]);
            for (int k = random() % 64; kind == 2 && k > 0; --k) text.insert(at, 1, static_cast<char>(random()));
            if (kind == 3) text.insert(at, std::string(random() % 70000, "a7 #\t\r\n"[random() % 7]));
        }
        fs::remove(file + ".bad");
        std::ofstream(file, std::ios::trunc) << text;
        // glibc lets stderr be set; the sanitizers still report on descriptor 2.
        stderr = std::tmpfile();
        restore_panel(s(), file);
        std::rewind(stderr);
        for (char said[1024]; std::fgets(said, sizeof said, stderr);)
            EXPECT_TRUE(names_its_line(said)) << "round " << round << ": " << said;
        std::fclose(stderr);
        stderr = terminal;
    }
}

}  // namespace
