// The panel kept between runs. The file is plain text, one setting per line,
// written as the panel shows it, so that a user can read and edit it:
//
//   kalverosin4-panel 2
//   speed 120
//   channel 1
//   swing 50                                  (with swing on, or a swing kept from a run with it)
//   playing 1
//   pattern 1                                 (each pattern that holds something)
//   row upper-controller
//   rate 16
//   step 1
//   direct forward
//   loop 1 8
//   steps 3 3 3 3 3 3 3 3 3 3 3 3 3 3 3 3     (the line each step selects: 1 top, 3 bottom)
//   controller 1
//   values 64 64 64
//   ...
//   pattern 2
//   ...
//   end
//
// A file of format 1 has no pattern lines: its rows are pattern 1.
#include "PanelMemory.h"

#include "Kalverosin4.h"
#include "Report.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* Heading = "kalverosin4-panel";
constexpr int Format = 2;
constexpr const char* NoteNames[] = {"c", "cis", "d", "dis", "e", "f", "fis", "g", "gis", "a", "ais", "b"};
constexpr const char* Directions[] = {"backward", "pingpong", "forward"};
constexpr int Lines = 3;

// One row as the file sees it. Controller and gate rows have a fader and a
// display on each line; the note row a semitone fader, an octave fader and a
// note display.
struct RowView {
    const char* name;
    int* rate;
    int* forward;
    Dis3* rateDis;
    Fader* rateFader;
    Dis3* stepDis;
    Fader* stepFader;
    Fader* directFader;
    ButLed* loopBar;
    std::array<But3, StepsPerRow>* stepButtons;
    const char* linesKey;
    std::array<Fader*, Lines> lineFaders{};
    std::array<Dis3*, Lines> lineDisplays{};
    std::array<Fader*, Lines> octaveFaders{};
    std::array<DisN*, Lines> noteDisplays{};
    Fader* controllerFader = nullptr;
    Dis3* controllerDis = nullptr;
};

template <class Row>
RowView common_view(const char* name, Row& row, const char* linesKey)
{
    return {name,           &row.rate,       &row.forward,     &row.rateDis,     &row.rateFader,
            &row.stepDis,   &row.stepFader,  &row.directFader, &row.loopBar,     &row.stepButtons,
            linesKey};
}

std::array<RowView, 4> row_views(Sequencer& s)
{
    std::array<RowView, 4> views = {
        common_view("upper-controller", s.upperControllerRow, "values"),
        common_view("lower-controller", s.lowerControllerRow, "values"),
        common_view("note", s.noteRow, "notes"),
        common_view("velocity", s.gateRow, "velocities"),
    };
    for (int k = 0; k < 2; ++k) {
        Row_Mode& row = k == 0 ? s.upperControllerRow : s.lowerControllerRow;
        views[k].lineFaders = {&row.lines.valueFader1, &row.lines.valueFader2, &row.lines.valueFader3};
        views[k].lineDisplays = {&row.lines.valueDis1, &row.lines.valueDis2, &row.lines.valueDis3};
        views[k].controllerFader = &row.lines.controllerFader;
        views[k].controllerDis = &row.lines.controllerDis;
    }
    Row_Note& note = s.noteRow;
    views[2].lineFaders = {&note.lines.noteFader1, &note.lines.noteFader2, &note.lines.noteFader3};
    views[2].octaveFaders = {&note.lines.octaveFader1, &note.lines.octaveFader2, &note.lines.octaveFader3};
    views[2].noteDisplays = {&note.lines.noteDis1, &note.lines.noteDis2, &note.lines.noteDis3};
    Row_Gate& gate = s.gateRow;
    views[3].lineFaders = {&gate.lines.velocityFader1, &gate.lines.velocityFader2, &gate.lines.velocityFader3};
    views[3].lineDisplays = {&gate.lines.velocityDis1, &gate.lines.velocityDis2, &gate.lines.velocityDis3};
    return views;
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

std::string note_name(int note) { return NoteNames[note % 12] + std::to_string(note / 12); }

void write_row(std::ostream& out, const RowView& view, const RowPattern& row)
{
    out << "\nrow " << view.name << "\nrate " << (1 << row.rate) << "\nstep " << row.step << "\ndirect "
        << Directions[std::clamp(row.direct, 0, 2)] << "\nloop " << row.loopStart << ' ' << row.loopEnd << "\nsteps";
    for (int line : row.lines) out << ' ' << 3 - line;
    if (view.controllerFader) out << "\ncontroller " << row.controller;
    out << '\n' << view.linesKey;
    for (int value : row.values) out << ' ' << (view.octaveFaders[0] ? note_name(value) : std::to_string(value));
    out << '\n';
}

// Every pattern that holds something; the one that plays as the rows hold it.
std::string panel_text(Sequencer& s)
{
    std::ostringstream out;
    PatternBank bank = s.patterns.bank;
    bank.patterns[bank.playing] = pattern_of_rows(s);
    out << "# Kalverosin 4 keeps its panel here: one setting per line, as the panel shows it.\n"
        << Heading << ' ' << Format << "\nspeed " << s.cockpit.tempo() << "\nchannel " << s.cockpit.channelFader.value;
    if (s.swing.on || s.swing.percent != 50) out << "\nswing " << s.swing.percent;
    out << "\nplaying " << bank.playing + 1 << '\n';
    std::array<RowView, 4> views = row_views(s);
    for (int n = 0; n < PatternCount; ++n) {
        if (!bank.patterns[n].used) continue;
        out << "\npattern " << n + 1 << '\n';
        for (int r = 0; r < 4; ++r) write_row(out, views[r], bank.patterns[n].rows[r]);
    }
    out << "\nend\n";
    return out.str();
}

bool write_all(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The rename is made durable too, so that a crash right after a save keeps it.
void sync_directory(const fs::path& directory)
{
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool number_in(const std::string& text, int low, int high, int& out)
{
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool note_number(const std::string& text, int& out)
{
    size_t digits = text.find_first_of("0123456789");
    if (digits == std::string::npos) return false;
    int octave = 0;
    if (!number_in(text.substr(digits), 0, 9, octave)) return false;
    for (int semitone = 0; semitone < 12; ++semitone)
        if (text.compare(0, digits, NoteNames[semitone]) == 0 && std::strlen(NoteNames[semitone]) == digits) {
            out = 12 * octave + semitone;
            return true;
        }
    return false;
}

// Takes one setting; the reason when it cannot.
class PanelReader {
public:
    explicit PanelReader(Sequencer& s) : sequencer(s), views(row_views(s)), usual(pattern_of_rows(s)) {}

    std::string take(const std::vector<std::string>& w)
    {
        const std::string& key = w[0];
        size_t args = w.size() - 1;
        if (key == "speed" && args == 1) return take_speed(w[1]);
        if (key == "channel" && args == 1) return take_channel(w[1]);
        if (key == "swing" && args == 1) return take_swing(w[1]);
        if (key == "playing" && args == 1) return take_playing(w[1]);
        if (key == "pattern" && args == 1) return take_pattern(w[1]);
        if (key == "row" && args == 1) return select_row(w[1]);
        if (!row) return key + " stands before the first row line";
        if (key == "rate" && args == 1) return take_rate(w[1]);
        if (key == "step" && args == 1)
            return take_fader(w[1], *row->stepFader, row->stepDis, "a step width of 1 to 16");
        if (key == "direct" && args == 1) return take_direction(w[1]);
        if (key == "loop" && args == 2) return take_loop(w[1], w[2]);
        if (key == "steps" && args == StepsPerRow) return take_steps(w);
        if (key == "controller" && args == 1 && row->controllerFader)
            return take_fader(w[1], *row->controllerFader, row->controllerDis, "a controller number of 0 to 127");
        if (key == row->linesKey && args == Lines) return take_lines(w);
        return "\"" + join(w) + "\" is not a setting of the " + row->name + " row";
    }

    // The patterns read into the bank; the one that plays into the rows.
    void finish()
    {
        keep_pattern();
        PatternBank& bank = sequencer.patterns.bank;
        bank.playing = playing;
        put_in_rows(sequencer, bank.patterns[playing].used ? bank.patterns[playing] : usual);
        bank.patterns[playing].used = true;
    }

private:
    Sequencer& sequencer;
    std::array<RowView, 4> views;
    RowView* row = nullptr;
    Pattern usual;         // the rows as they start
    int reading = 0;       // the pattern the rows are read into; -1 after a bad pattern line
    bool rowsRead = false;
    int playing = 0;

    // The rows are read as the panel would show them, then kept in the bank.
    void keep_pattern()
    {
        if (reading >= 0 && rowsRead) sequencer.patterns.bank.patterns[reading] = pattern_of_rows(sequencer);
        put_in_rows(sequencer, usual);
        rowsRead = false;
        row = nullptr;
    }

    std::string take_playing(const std::string& text)
    {
        int n = 0;
        if (!number_in(text, 1, PatternCount, n)) return "playing " + text + " is not a pattern of 1 to 16";
        playing = n - 1;
        return "";
    }

    std::string take_pattern(const std::string& text)
    {
        keep_pattern();
        int n = 0;
        reading = number_in(text, 1, PatternCount, n) ? n - 1 : -1;
        return reading < 0 ? "pattern " + text + " is not a pattern of 1 to 16" : "";
    }

    static std::string join(const std::vector<std::string>& w)
    {
        std::string text;
        for (const std::string& word : w) text += (text.empty() ? "" : " ") + word;
        return text;
    }

    std::string take_speed(const std::string& text)
    {
        int tempo = 0;
        if (!number_in(text, 40, 249, tempo)) return "speed " + text + " is not a tempo of 40 to 249";
        Cockpit& c = sequencer.cockpit;
        c.speedTensFader.set(tempo / 10);
        c.speedUnitsFader.set(tempo % 10);
        if (tempo != c.speedDis.value) installTickPeriod(tick_period(tempo));
        c.speedDis.value = tempo;
        return "";
    }

    std::string take_channel(const std::string& text)
    {
        int channel = 0;
        if (!number_in(text, 1, 16, channel)) return "channel " + text + " is not a MIDI channel of 1 to 16";
        sequencer.cockpit.channelFader.set(channel);
        sequencer.cockpit.channelDis.value = channel;
        sequencer.midiChannel = channel - 1;
        return "";
    }

    std::string take_swing(const std::string& text)
    {
        if (!number_in(text, 50, 75, sequencer.swing.percent)) return "swing " + text + " is not a swing of 50 to 75 %";
        return "";
    }

    std::string select_row(const std::string& name)
    {
        for (RowView& view : views)
            if (name == view.name) {
                row = &view;
                rowsRead = true;
                return "";
            }
        row = nullptr;
        return "there is no row called " + name;
    }

    std::string take_rate(const std::string& text)
    {
        for (int exponent = 0; exponent <= 6; ++exponent)
            if (text == std::to_string(1 << exponent)) {
                row->rateFader->set(exponent);
                row->rateDis->value = 1 << exponent;
                *row->rate = 192 >> exponent;
                return "";
            }
        return "rate " + text + " is not one of 1, 2, 4, 8, 16, 32, 64";
    }

    static std::string take_fader(const std::string& text, Fader& fader, Dis3* display, const char* wanted)
    {
        int value = 0;
        if (!number_in(text, fader.min, fader.max, value)) return text + " is not " + wanted;
        fader.set(value);
        if (display) display->value = value;
        return "";
    }

    std::string take_direction(const std::string& text)
    {
        for (int d = 0; d < 3; ++d)
            if (text == Directions[d]) {
                row->directFader->set(d);
                *row->forward = d != 0 ? 1 : 0;
                return "";
            }
        return "direct " + text + " is not backward, pingpong or forward";
    }

    // The strip's end can stand one beyond the last step, never on its start.
    std::string take_loop(const std::string& first, const std::string& last)
    {
        int start = 0, end = 0;
        if (!number_in(first, 1, StepsPerRow, start) || !number_in(last, 1, StepsPerRow + 1, end) || start == end)
            return "loop " + first + " " + last + " is not a loop of steps 1 to 16";
        row->loopBar->start = start;
        row->loopBar->end = end;
        return "";
    }

    std::string take_steps(const std::vector<std::string>& w)
    {
        std::array<int, StepsPerRow> lines{};
        for (int k = 0; k < StepsPerRow; ++k)
            if (!number_in(w[k + 1], 1, Lines, lines[k])) return "step " + std::to_string(k + 1) + " selects line " +
                                                                   w[k + 1] + ", not 1, 2 or 3";
        for (int k = 0; k < StepsPerRow; ++k) (*row->stepButtons)[k].state = 3 - lines[k];
        return "";
    }

    std::string take_lines(const std::vector<std::string>& w)
    {
        std::array<int, Lines> values{};
        bool notes = row->octaveFaders[0] != nullptr;
        for (int line = 0; line < Lines; ++line) {
            bool ok = notes ? note_number(w[line + 1], values[line]) && values[line] <= 119
                            : number_in(w[line + 1], 0, 127, values[line]);
            if (!ok) return w[line + 1] + " is not " + (notes ? "a note from c0 to b9" : "a value of 0 to 127");
        }
        for (int line = 0; line < Lines; ++line) {
            if (!notes) {
                row->lineFaders[line]->set(values[line]);
                row->lineDisplays[line]->value = values[line];
                continue;
            }
            row->lineFaders[line]->set(values[line] % 12);
            row->octaveFaders[line]->set(values[line] / 12);
            row->noteDisplays[line]->value = values[line];
        }
        return "";
    }
};

// What the file said is quoted in short, and only in printable characters.
void complain(const std::string& path, int line, std::string problem)
{
    constexpr size_t Shown = 160;
    if (problem.size() > Shown) problem = problem.substr(0, Shown) + "...";
    for (char& c : problem)
        if (c < ' ' || c > '~') c = '?';
    std::string where = line > 0 ? ", line " + std::to_string(line) : "";
    report(Severity::Warning, "panel file " + path + where + ": " + problem + ".");
}

// The file a path names: the end of its chain of symbolic links, followed
// even where it ends nowhere yet; "" for a chain that never ends.
std::string final_target(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(path, error)) return path;
        fs::path link = fs::read_symlink(path, error);
        // A relative link starts where the link stands.
        if (!error) link = fs::weakly_canonical(fs::path(path).parent_path() / link, error);
        if (error) return path;
        path = link.string();
    }
    return "";
}

const char* kind_of(mode_t mode)
{
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a symbolic link that cannot be followed";
}

std::string not_regular(mode_t mode) { return std::string("it is ") + kind_of(mode) + ", not a regular file"; }

int rename_no_replace(const char* from, const char* to)
{
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

// A rename that never replaces anything. Where the kernel or the file system
// refuses that kind of rename, a second name is linked (which never replaces
// one either) and the first unlinked.
bool rename_unless_taken(const std::string& from, const std::string& to)
{
    if (renameNoReplace(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EPERM) return false;
    if (link(from.c_str(), to.c_str()) != 0) return false;
    if (unlink(from.c_str()) == 0) return true;
    int why = errno;
    unlink(to.c_str());
    errno = why;
    return false;
}

// Kept aside before anything can overwrite it, beside the copies kept before:
// a user may want what is in it. False, said on stderr, where it cannot be.
bool keep_aside(const std::string& path)
{
    constexpr int MostKept = 999;
    std::string aside = path + ".bad";
    for (int n = 1; !rename_unless_taken(path, aside); ++n) {
        if (errno != EEXIST || n > MostKept) {
            report(Severity::Warning, "cannot keep " + path + " aside as " + aside + ": " + std::strerror(errno) +
                                          "; it is left as it is, and the panel is not kept there.");
            return false;
        }
        aside = path + ".bad." + std::to_string(n);
    }
    report(Severity::Warning, "the panel file is kept aside as " + aside + "; what it could not give starts as usual.");
    return true;
}

constexpr size_t Largest = 64 * 1024;
constexpr const char* TooLarge = "it is larger than 64 KiB, too large for a panel file";

std::string cannot_read() { return std::string("it cannot be read: ") + std::strerror(errno); }

std::string refusal_of(const struct stat& status)
{
    if (!S_ISREG(status.st_mode)) return not_regular(status.st_mode);
    return static_cast<size_t>(status.st_size) > Largest ? TooLarge : "";
}

// Why the panel cannot replace what stands at the target now, or "" when it
// can; the mode of a file that stands there goes to mode.
std::string unfit_target(const std::string& target, mode_t& mode)
{
    if (target.empty()) return std::strerror(ELOOP);
    struct stat status {};
    if (lstat(target.c_str(), &status) != 0) return errno == ENOENT ? "" : std::strerror(errno);
    mode = status.st_mode & 07777;
    return refusal_of(status);
}

// Up to one byte more than a panel file may hold.
bool read_bounded(int fd, std::string& text)
{
    char buffer[4096];
    while (text.size() <= Largest) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        text.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

// What a panel file holds, when it is a regular file of at most 64 KiB that
// can be read; else why not. Nothing else is even opened: a FIFO would block,
// a device could be endless.
struct PanelText {
    bool missing = false;
    std::string refusal;
    std::string text;
};

PanelText read_panel_text(const std::string& path)
{
    PanelText found;
    struct stat status {};
    int fd = -1;
    if (stat(path.c_str(), &status) != 0) {
        found.missing = errno == ENOENT;
        found.refusal = cannot_read();
    } else if ((found.refusal = refusal_of(status)).empty()) {
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        // It may have been swapped for something else since.
        if (fd < 0 || fstat(fd, &status) != 0) found.refusal = cannot_read();
        else if ((found.refusal = refusal_of(status)).empty() && !read_bounded(fd, found.text))
            found.refusal = cannot_read();
        else if (found.text.size() > Largest) found.refusal = TooLarge;
    }
    if (fd >= 0) close(fd);
    return found;
}

// Sets what the text gives; false, with each fault named, when it is not all good.
bool take_panel_text(Sequencer& sequencer, const std::string& path, const std::string& text)
{
    std::istringstream file(text);
    PanelReader reader(sequencer);
    bool headed = false, ended = false, faulty = false;
    int number = 0;
    auto fault = [&](const std::string& problem) {
        complain(path, std::max(number, 1), problem);
        faulty = true;
    };
    for (std::string line; !ended && std::getline(file, line);) {
        ++number;
        std::vector<std::string> w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        if (!headed) {
            int format = 0;
            if (w.size() != 2 || w[0] != Heading || !number_in(w[1], 1, INT_MAX, format)) {
                fault("this is not a Kalverosin 4 panel file");
                break;
            }
            if (format > Format) {
                fault("it was written by a newer Kalverosin 4 (format " + w[1] + "), which this one cannot read");
                break;
            }
            headed = true;
            continue;
        }
        if (w == std::vector<std::string>{"end"}) ended = true;
        else if (std::string problem = reader.take(w); !problem.empty()) fault(problem);
    }
    if (!faulty && !ended) fault(headed ? "the file ends early: it has no end line" : "the file is empty");
    if (headed) reader.finish();
    return !faulty;
}

// A new file gets the mode open() would give it. umask can be read only by
// setting it, so it is read once, before any thread of the program runs.
mode_t umask_at_start()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}
const mode_t CreationMask = umask_at_start();

bool write_panel(const std::string& path, const std::string& text)
{
    std::string target = final_target(path);
    fs::path directory = fs::path(target).parent_path();
    std::error_code error;
    if (!directory.empty()) fs::create_directories(directory, error);
    mode_t mode = 0644 & ~CreationMask;
    std::string why = unfit_target(target, mode);
    // Named apart from the target, so that no name is too long for it.
    std::string fresh = (directory / ".kalverosin4-panel-XXXXXX").string();
    int fd = why.empty() ? mkostemp(fresh.data(), O_CLOEXEC) : -1;
    if (why.empty() && (fd < 0 || !write_all(fd, text) || fchmod(fd, mode) != 0 || fsync(fd) != 0))
        why = std::strerror(errno);
    if (fd >= 0 && close(fd) != 0 && why.empty()) why = std::strerror(errno);
    // What stands there may have changed while the file was written.
    if (why.empty()) why = unfit_target(target, mode);
    if (why.empty() && std::rename(fresh.c_str(), target.c_str()) != 0) why = std::strerror(errno);
    if (!why.empty()) {
        if (fd >= 0) unlink(fresh.c_str());
        report(Severity::Warning, "cannot keep the panel in " + path + ": " + why + ".");
        return false;
    }
    sync_directory(directory.empty() ? fs::path(".") : directory);
    return true;
}

// One thread writes the panels asked for, one at a time, in order; a panel
// asked for while another is written waits, and only the latest one waiting is
// written. The main loop only hands the text over.
class PanelSaver {
public:
    ~PanelSaver() { finish(); }

    void save(const std::string& path, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(guard);
        waiting = {path, text};
        if (!worker.joinable()) worker = std::thread(&PanelSaver::work, this);
        wake.notify_one();
    }

    // Returns once the panel asked for last is written.
    void finish()
    {
        {
            std::lock_guard<std::mutex> lock(guard);
            ending = true;
            wake.notify_one();
        }
        if (worker.joinable()) worker.join();
        ending = false;
    }

private:
    std::mutex guard;
    std::condition_variable wake;
    std::optional<std::pair<std::string, std::string>> waiting;
    bool ending = false;
    std::thread worker;

    void work()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);  // signals belong to the main thread
        std::unique_lock<std::mutex> lock(guard);
        for (;;) {
            wake.wait(lock, [this] { return waiting || ending; });
            if (!waiting) return;
            auto [path, text] = std::move(*waiting);
            waiting.reset();
            lock.unlock();
            write_panel(path, text);
            lock.lock();
        }
    }
};

PanelSaver saver;

}  // namespace

int (*renameNoReplace)(const char* from, const char* to) = rename_no_replace;

std::string panel_file_path(const char* configured)
{
    const char* home = std::getenv("HOME");
    if ((!home || !*home) && getpwuid(getuid())) home = getpwuid(getuid())->pw_dir;
    std::string homeDir = home ? home : ".";
    std::string file = configured ? configured : "";
    if (file.rfind("~/", 0) == 0) return homeDir + file.substr(1);
    if (!file.empty()) return file;
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base = state && state[0] == '/' ? state : homeDir + "/.local/state";
    return base + "/kalverosin4/panel";
}

bool restore_panel(Sequencer& sequencer, const std::string& path)
{
    PanelText found = read_panel_text(path);
    if (found.missing) return true;
    if (!found.refusal.empty()) {
        complain(path, 0, found.refusal + "; it is left as it is, and the panel is not kept there");
        return false;
    }
    return take_panel_text(sequencer, path, found.text) || keep_aside(final_target(path));
}

bool save_panel(Sequencer& sequencer, const std::string& path) { return write_panel(path, panel_text(sequencer)); }

void save_panel_in_background(Sequencer& sequencer, const std::string& path) { saver.save(path, panel_text(sequencer)); }

void finish_panel_saves() { saver.finish(); }
