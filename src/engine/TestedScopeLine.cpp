#include "engine/TestedScopeLine.h"

#include <cstdio>
#include <cstring>

namespace {

const size_t kSize = kTestedScopeLineLength + 1;
const int kForms = 4;

// Writes one form into line, 0 in full words to 3 the tersest; whether it fit.
bool FormatForm(char* line, const TestedScope& s, int form)
{
    char where[96], floating[32] = "", limit[24] = "", memory[48] = "";
    if (s.eachCore && s.tiedWorkers != 0) {
        const char* forms[kForms] = {"Testing each core in turn: %u of %u cores (%u of %u processors)",
                                     "Testing each core in turn, %u/%u cores, %u/%u CPUs",
                                     "Testing each core, %u/%u cores, %u/%u CPUs",
                                     "Testing each of %u cores"};
        std::snprintf(where, sizeof where, forms[form], s.cores, s.machineCores, s.processors, s.machineProcessors);
    } else if (s.tiedWorkers == 0)
        std::snprintf(where, sizeof where, form == 0 ? ", floating (no processor topology)" : ", floating");
    else if (form == 0)
        std::snprintf(where, sizeof where, " on %u of %u processors (%u of %u cores)", s.processors,
                      s.machineProcessors, s.cores, s.machineCores);
    else if (form == 1)
        std::snprintf(where, sizeof where, ", %u/%u CPUs, %u/%u cores", s.processors, s.machineProcessors,
                      s.cores, s.machineCores);
    else
        std::snprintf(where, sizeof where, ", %u/%u CPUs, %u cores", s.processors, s.machineProcessors, s.cores);
    if (s.tiedWorkers != 0 && s.tiedWorkers < s.workers)
        std::snprintf(floating, sizeof floating, ", %u floating", s.workers - s.tiedWorkers);
    if (s.narrowLimited)
        std::snprintf(limit, sizeof limit, ", 32-bit");
    if (s.memoryTest) {
        if (form < 2)
            std::snprintf(memory, sizeof memory, ", %llu of %llu MB", s.testedMB, s.availableMB);
        else if (form == 2)
            std::snprintf(memory, sizeof memory, ", %llu/%llu MB", s.testedMB, s.availableMB);
        else
            std::snprintf(memory, sizeof memory, ", %llu MB", s.testedMB);
    }
    const int written = s.eachCore && s.tiedWorkers != 0
        ? std::snprintf(line, kSize, "%s%s, %s%s", where, limit, s.kernel, memory)
        : std::snprintf(line, kSize, "Testing %u worker%s%s%s%s, %s%s", s.workers, s.workers == 1 ? "" : "s",
                        where, floating, limit, s.kernel, memory);
    return written >= 0 && static_cast<size_t>(written) < kSize;
}

} // namespace

void FormatTestedScopeLine(char* line, const TestedScope& scope)
{
    for (int form = 0; form < kForms; ++form)
        if (FormatForm(line, scope, form))
            return;
    // Then the loads after the variant's name counted, not named ("AVX, 4 loads").
    const char* names = std::strstr(scope.kernel, ", ");
    if (names) {
        char counted[48];
        std::snprintf(counted, sizeof counted, "%.*s, %d loads", static_cast<int>(names - scope.kernel), scope.kernel,
                      __builtin_popcount(scope.kernels));
        TestedScope shorter = scope;
        shorter.kernel = counted;
        for (int form = 0; form < kForms; ++form)
            if (FormatForm(line, shorter, form))
                return;
    }
    // The tersest form is left in the line, cut at the limit, if none fits.
    FormatForm(line, scope, kForms - 1);
}
