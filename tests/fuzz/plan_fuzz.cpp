// Fuzz target: arbitrary bytes as a plan file, through the CSV and JSON
// readers and every check of a row. Whatever is read names its rows, and a
// plan read without problems reads the same a second time.
#include "plan.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const veltrona::cli::PlanInput plan = veltrona::cli::parsePlan(text);
    for (const veltrona::cli::PlanRow &row : plan.rows)
        if (row.row < 1)
            std::abort();
    for (const std::string &problem : plan.problems)
        if (problem.empty())
            std::abort();
    if (plan.problems.empty() && veltrona::cli::parsePlan(text).rows.size() != plan.rows.size())
        std::abort();
    return 0;
}
