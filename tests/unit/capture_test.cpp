// The capture driver never fails silently: each way it can fail is named once on stderr.
#include "headless.h"

#include <cstring>

namespace {

void configure(const std::string& text) { set_config_data(text.c_str(), static_cast<int>(text.size())); }

TEST(CaptureDriver, NamesAMissingFileKeyAnUnopenablePathAndAFullDisk)
{
    start_headless_allegro();
    struct Case {
        std::string config;
        int init;
        const char* complaint;
    };
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

}  // namespace
