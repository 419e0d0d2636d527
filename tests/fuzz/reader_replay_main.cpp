// Runs a reader's fuzz target without libFuzzer: each file of its corpus
// folder, then mutations of them (bytes changed, inserted and cut, two files
// spliced) from a fixed seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER RUNS\n", argv[0]);
        return 2;
    }
    std::vector<std::vector<uint8_t>> corpus;
    for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(corpus.back().data(), corpus.back().size());
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "%s: no inputs\n", argv[1]);
        return 1;
    }
    const long runs = std::atol(argv[2]);
    std::mt19937 random(20261208);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    const uint8_t interesting[] = {'\0', '\n', '\r', ',', '"',  '\'', '[',  ']',  '{',
                                   '}',  ':',  '\\', '=', 0x80, 0xC3, 0xE9, 0xEF, 0xFF};
    for (long run = 0; run < runs; ++run) {
        std::vector<uint8_t> input = corpus[pick(corpus.size())];
        for (size_t n = 1 + pick(4); n > 0; --n) {
            const size_t at = pick(input.size() + 1);
            switch (pick(4)) {
            case 0:
                if (at < input.size())
                    input[at] = interesting[pick(sizeof interesting)];
                break;
            case 1:
                input.insert(input.begin() + static_cast<long>(at),
                             interesting[pick(sizeof interesting)]);
                break;
            case 2:
                input.resize(at);
                break;
            default: { // the tail of another input behind this one's head
                const std::vector<uint8_t> &other = corpus[pick(corpus.size())];
                input.resize(at);
                input.insert(input.end(), other.begin() + static_cast<long>(pick(other.size() + 1)),
                             other.end());
            }
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu corpus inputs and %ld mutations ran\n", corpus.size(), runs);
    return 0;
}
