// Fuzz target: arbitrary bytes as a plan file, through the CSV and JSON
// readers and every check of a row. Whatever is read names its rows, and a
// plan read without problems reads the same a second time.
#include "plan.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::string words(const veltrona::change::Problem &problem) {
    return "problem " + std::to_string(static_cast<int>(problem.code));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const veltrona::change::PlanInput plan = veltrona::change::parsePlan(text, words);
    for (const veltrona::change::PlanRow &row : plan.rows)
        if (row.row < 1)
            std::abort();
    for (const std::string &problem : plan.problems)
        if (problem.empty())
            std::abort();
    if (plan.problems.empty() &&
        veltrona::change::parsePlan(text, words).rows.size() != plan.rows.size())
        std::abort();
    return 0;
}
