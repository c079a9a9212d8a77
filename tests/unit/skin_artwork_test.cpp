// The committed skin in knobcut/ is what tools/skingen draws.
#include "headless.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(SkinArtwork, CommittedFilesAreWhatTheGeneratorWrites)
{
    fs::path out = fs::temp_directory_path() / ("kalverosin-skingen-" + std::to_string(getpid()));
    fs::create_directories(out);
    ASSERT_EQ(std::system(("'" SKINGEN_PATH "' '" + (out / "knobcut").string() + "'").c_str()), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(out / "knobcut"), fs::directory_iterator()), SkinSlots);
    for (const SkinFile& file : SkinFiles)
        EXPECT_TRUE(contents(out / file.name) == contents(fs::path(SOURCE_DIR) / file.name))
            << file.name << " is stale; run: build/tools/skingen knobcut";
    fs::remove_all(out);
}

}  // namespace
