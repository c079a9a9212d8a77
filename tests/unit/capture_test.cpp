// The capture driver never fails silently: each way it can fail is named once on stderr.
#include "MasterInput.h"
#include "Resting.h"
#include "SteadyTimer.h"
#include "headless.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void configure(const std::string& text) { set_config_data(text.c_str(), static_cast<int>(text.size())); }

TEST(CaptureDriver, NamesAMissingFileKeyAnUnopenablePathAndAFullDisk)
{
    start_headless_allegro();
    struct Case { std::string config; int init; const char* complaint; };
    const Case cases[] = {
        {"[sound]\nmidi_card = CAPT\n", -1, "name its file with capture_file"},
        {"[sound]\ncapture_file = /nonexistent/capture.txt\n", -1,
         "cannot record MIDI to /nonexistent/capture.txt: No such file or directory"},
        {"[sound]\ncapture_file = /dev/full\n", 0, "can no longer be recorded to /dev/full: No space left on device"},
    };
    for (const Case& c : cases) {
        configure(c.config);
        int result = 0;
        std::string said = stderr_of([&] {
            result = midi_capture.init(FALSE, 16);
            for (int i = 0; result == 0 && i < 300; ++i) midi_capture.raw_midi(0xF8);
            midi_capture.exit(FALSE);
        });
        EXPECT_EQ(result, c.init) << c.config;
        EXPECT_NE(said.find(c.complaint), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    }
    configure("");
}

// A FIFO without a writer holds nothing up; each writer's bytes are read as they
// come, and end the main loop's rest at once, where a writer gone does not.
TEST(CaptureDriver, FollowsAMasterThroughAFifoWriterAfterWriter)
{
    start_headless_allegro();
    unlink("master.fifo");
    ASSERT_EQ(mkfifo("master.fifo", 0600), 0);
    configure("[sound]\ncapture_input = master.fifo\n");
    midi_driver = &midi_capture;
    alarm(60);  // an open that waited for a writer would hang here
    ASSERT_TRUE(listen_to_master());
    alarm(0);
    MasterMessage m;
    auto rested_ms = [](long long ms) {
        long long start = monotonic_nanoseconds();
        rest_until(start + ms * 1000000, true);
        return (monotonic_nanoseconds() - start) / 1000000;
    };
    for (const char* bytes : {"\xF8", "\xFA"}) {
        int writer = open("master.fifo", O_WRONLY | O_NONBLOCK);
        EXPECT_EQ(write(writer, bytes, 1), 1);
        close(writer);
        EXPECT_LT(rested_ms(60000), 60000);
        EXPECT_TRUE(next_master_message(m));
        EXPECT_FALSE(next_master_message(m));  // the writer is gone
        EXPECT_GE(rested_ms(30), 30);
    }
    EXPECT_EQ(m.kind, MasterKind::Start);
}

}  // namespace
