#include "engine/FailureLine.h"

#include <cstdio>
#include <cstring>

#include "engine/KernelLoads.h"
#include "engine/RunFailure.h"
#include "engine/TestEngine.h"

namespace {

const size_t kSize = kFailureLineLength + 1;

// heads[0] + bits + tails[0], else the shorter forms in turn, with as many of
// the bits' 16 hexadecimal digits as fit; else `bare`.
template <int kForms>
void FormatBits(char* line, const char (&heads)[kForms][kSize], const char (&tails)[kForms][32],
                unsigned long long bits, const char* bare)
{
    int significant = 1;
    while (significant < 16 && (bits >> (4 * significant)) != 0)
        ++significant;
    for (int form = 0; form < kForms; ++form) {
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
    char heads[3][kSize], tails[3][32] = {"", "", ""}, bare[kSize];
    const char* load = KernelLoadName(failure.load);
    std::snprintf(heads[0], kSize, "Test Failed -- %s in %s, worker %u of %u on CPU %u, bits ", what, load, worker,
                  threads, failure.cpu);
    std::snprintf(heads[1], kSize, "Test Failed -- %s, %s, worker %u, CPU %u, bits ", load, what, worker,
                  failure.cpu);
    // The bits before the worker: a tied worker is known by its CPU.
    std::snprintf(heads[2], kSize, "Test Failed -- %s, %s, CPU %u, bits ", load, what, failure.cpu);
    if (more > 0) {
        std::snprintf(tails[0], sizeof tails[0], " and %ld more", more);
        std::snprintf(tails[1], sizeof tails[1], ", %ld more", more);
        std::snprintf(tails[2], sizeof tails[2], ", %ld more", more);
    }
    std::snprintf(bare, kSize, "Test Failed -- %s, %s, worker %u, CPU %u%s", load, what, worker, failure.cpu,
                  tails[1]);
    FormatBits(line, heads, tails, failure.bits, bare);
}

void FormatCoreFailureLine(char* line, const WorkerFailure& failure, unsigned int core, unsigned int cores)
{
    const char* what = FailureKindName(failure.check);
    char heads[2][kSize], tails[2][32] = {"", ""}, bare[kSize];
    const char* load = KernelLoadName(failure.load);
    std::snprintf(heads[0], kSize, "Core %u of %u, CPU %u: %s in %s, worker 1, bits ", core, cores, failure.cpu, what,
                  load);
    std::snprintf(heads[1], kSize, "Core %u, CPU %u: %s in %s, bits ", core, failure.cpu, what, load);
    std::snprintf(bare, kSize, "Core %u, CPU %u: %s in %s", core, failure.cpu, what, load);
    FormatBits(line, heads, tails, failure.bits, bare);
}
