#include "engine/FailureLine.h"

#include <cstdio>
#include <cstring>

#include "engine/TestEngine.h"
#include "engine/RunFailure.h"

namespace {

const size_t kSize = kFailureLineLength + 1;

// heads[0] + bits + tails[0], else the short form heads[1] + bits + tails[1],
// with as many of the bits' 16 hexadecimal digits as fit; else `bare`.
void FormatBits(char* line, const char (&heads)[2][kSize], const char (&tails)[2][32], unsigned long long bits,
                const char* bare)
{
    int significant = 1;
    while (significant < 16 && (bits >> (4 * significant)) != 0)
        ++significant;
    for (int form = 0; form < 2; ++form) {
        const int room = static_cast<int>(kFailureLineLength - std::strlen(heads[form]) - std::strlen(tails[form]));
        if (room >= significant) {
            std::snprintf(line, kSize, "%s%0*llX%s", heads[form], room < 16 ? room : 16, bits, tails[form]);
            return;
        }
    }
    std::snprintf(line, kSize, "%s", bare);
}

} // namespace

void FormatFailureLine(char* line, const WorkerFailure& failure, unsigned int worker, unsigned int threads,
                       long failedWorkers)
{
    const char* what = FailureKindName(failure.check);
    const long more = failedWorkers - 1;
    char heads[2][kSize], tails[2][32] = {"", ""}, bare[kSize];
    std::snprintf(heads[0], kSize, "Test Failed -- %s in worker %u of %u on CPU %u, bits ", what, worker, threads,
                  failure.cpu);
    std::snprintf(heads[1], kSize, "Test Failed -- %s, worker %u, CPU %u, bits ", what, worker, failure.cpu);
    if (more > 0) {
        std::snprintf(tails[0], sizeof tails[0], " and %ld more", more);
        std::snprintf(tails[1], sizeof tails[1], ", %ld more", more);
    }
    std::snprintf(bare, kSize, "Test Failed -- %s, worker %u, CPU %u%s", what, worker, failure.cpu, tails[1]);
    FormatBits(line, heads, tails, failure.bits, bare);
}

void FormatCoreFailureLine(char* line, const WorkerFailure& failure, unsigned int core, unsigned int cores)
{
    const char* what = FailureKindName(failure.check);
    char heads[2][kSize], tails[2][32] = {"", ""}, bare[kSize];
    std::snprintf(heads[0], kSize, "Core %u of %u, CPU %u: %s in worker 1, bits ", core, cores, failure.cpu, what);
    std::snprintf(heads[1], kSize, "Core %u, CPU %u: %s, bits ", core, failure.cpu, what);
    std::snprintf(bare, kSize, "Core %u, CPU %u: %s", core, failure.cpu, what);
    FormatBits(line, heads, tails, failure.bits, bare);
}
