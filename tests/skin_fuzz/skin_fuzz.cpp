// skin_fuzz SKIN_PARENT SCRATCH.bmp ROUNDS: loads mutated copies of the real skin files (headers and
// lengths above all) through the skin loader in one process. The skin_fuzz test runs it under valgrind,
// which fails it on any invalid read or write inside Allegro.
#include "Kalverosin4.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace {

void put(std::string& bytes, std::size_t at, unsigned long value, int count)
{
    for (int i = 0; i < count && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Header fields as (offset, length), Windows and OS/2, and values that stress them.
const int Fields[][2] = {{10, 4}, {14, 4}, {18, 4}, {22, 4}, {26, 2}, {28, 2}, {30, 4}, {18, 2}, {20, 2}, {24, 2}};
const unsigned long Values[] = {0, 1, 2, 3, 8, 12, 16, 24, 32, 40, 54, 124, 256, 1078, 4097, 0xfffffff5, 0x80000000};

std::string mutate(std::string bytes, std::mt19937& random)
{
    for (int n = 1 + random() % 3; n > 0; --n) {
        unsigned kind = random() % 8, f = random() % std::size(Fields);
        if (kind < 4) {
            put(bytes, Fields[f][0], random() % 2 ? Values[random() % std::size(Values)] : random(), Fields[f][1]);
        } else if (kind == 4) {
            bytes.resize(random() % (bytes.size() + 1));
        } else if (kind == 5) {
            bytes.append(random() % 2048, static_cast<char>(random()));
        } else if (kind == 6 && bytes.size() >= 54) {  // 12-byte OS/2 header; all skin files are < 256 high
            bytes.erase(26, 28);
            put(bytes, 10, 26, 4);
            put(bytes, 14, 12, 4);
            put(bytes, 20, static_cast<unsigned char>(bytes[22]), 2);
            put(bytes, 22, 0x180001, 4);  // one plane, 24 bits
        } else if (kind == 7 && bytes.size() >= 54) {  // 8 bits and a table of 256 colours
            bytes.insert(54, std::string(1024, static_cast<char>(random())));
            put(bytes, 10, 1078, 4);
            put(bytes, 28, 8, 2);
        }
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || !start_headless_allegro()) return 2;
    std::mt19937 random(20261207);
    int rounds = std::stoi(argv[3]), loaded = 0;
    for (int round = 0; round < rounds; ++round) {
        const SkinFile& file = SkinFiles[round % SkinSlots];
        std::ifstream in(std::string(argv[1]) + "/" + file.name, std::ios::binary);
        std::ofstream(argv[2], std::ios::binary) << mutate({std::istreambuf_iterator<char>(in), {}}, random);
        try {
            destroy_bitmap(load_skin_file(argv[2], file));
            ++loaded;
        } catch (const SkinError&) {
        }
    }
    std::printf("%d mutated skin files: %d loaded, the rest refused\n", rounds, loaded);
}
