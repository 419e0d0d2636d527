// Runs the fuzz target without libFuzzer: well-formed replies, their mutations
// and random bytes, from a fixed seed. Any file arguments are run as inputs too.
#include "reply_builder.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::vector<std::vector<uint8_t>> seeds;
    for (uint8_t version : {0, 2, 3, 4, 5, 9}) {
        kova::test::ReplyFields fields;
        fields.version = version;
        seeds.push_back(kova::test::BuildReply(fields));
        fields.model = std::string(120, 'm');
        fields.pppoeService = std::string(40, 's');
        seeds.push_back(kova::test::BuildReply(fields));
    }
    std::mt19937 random(20261207);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    size_t runs = 0;
    for (; runs < 200000; ++runs) {
        std::vector<uint8_t> input = seeds[pick(seeds.size())];
        switch (pick(4)) {
        case 0: // random bytes behind a valid header
            input.resize(pick(300));
            for (size_t i = 9; i < input.size(); ++i)
                input[i] = static_cast<uint8_t>(random());
            break;
        case 1: // truncated
            input.resize(pick(input.size() + 1));
            break;
        default: // a few bytes changed, lengths and counts included
            for (size_t n = 1 + pick(4); n > 0; --n)
                input[pick(input.size())] = static_cast<uint8_t>(random());
            break;
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu inputs ran\n", runs);
    return 0;
}
