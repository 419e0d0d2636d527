// Runs the rule-set fuzz target without libFuzzer: each file argument (the
// recorded rule sets), then their mutations from a fixed seed: truncations,
// changed bytes and spliced pieces of JSON.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void run(const std::string &input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> seeds;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        run(seeds.back());
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "usage: %s SAMPLE.json...\n", argv[0]);
        return 64;
    }
    const std::vector<std::string> pieces = {
        "{",
        "}",
        "[",
        "]",
        ",",
        ":",
        "\"",
        "\\u00",
        "\\ud800",
        "null",
        "-0.5e3",
        "1e999",
        "9223372036854775808",
        "{\"set\":[",
        "{\"range\":[1,",
        "\"@kova_ports\"",
        "{\"vmap\":{\"key\":{\"payload\":{\"protocol\":\"udp\",\"field\":\"dport\"}},\"data\":",
        "{\"jump\":{\"target\":\"vmapped\"}}",
        "{\"goto\":{\"target\":\"pre\"}}",
        std::string(300, '['),
        std::string(300, '{')};
    std::mt19937 random(20261208);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    size_t runs = 0;
    for (; runs < 3000; ++runs) {
        std::string input = seeds[pick(seeds.size())];
        switch (pick(3)) {
        case 0: // truncated
            input.resize(pick(input.size() + 1));
            break;
        case 1: // a few bytes changed
            for (size_t n = 1 + pick(4); n > 0 && !input.empty(); --n)
                input[pick(input.size())] = static_cast<char>(random());
            break;
        default: // a piece of JSON spliced in
            input.insert(pick(input.size() + 1), pieces[pick(pieces.size())]);
            break;
        }
        run(input);
    }
    std::printf("%zu inputs ran\n", runs + seeds.size());
    return 0;
}
