// The committed skin in knobcut/ is what tools/skingen draws.
#include "headless.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SkinArtwork, CommittedFilesAreWhatTheGeneratorWrites)
{
    fs::path out = fs::temp_directory_path() / ("kalverosin-skingen-" + std::to_string(getpid()));
    fs::create_directories(out);
    ASSERT_EQ(std::system(("'" SKINGEN_PATH "' '" + (out / "knobcut").string() + "'").c_str()), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(out / "knobcut"), fs::directory_iterator()), SkinSlots);
    for (const SkinFile& file : SkinFiles)
        EXPECT_TRUE(file_bytes(out / file.name) == file_bytes(fs::path(SOURCE_DIR) / file.name))
            << file.name << " is stale; run: build/tools/skingen knobcut";
    fs::remove_all(out);
}

}  // namespace
