// The kernel classes' section of the kernel benchmark ("classes"): each variant
// the processor runs, verified against its ceiling (the same passes without the
// checks) in the same run; fma in double-precision FLOP per core cycle, integer
// in 64-bit multiplies per core cycle. Included by kernel_bench.cpp after its
// clocks and table helpers.
#include "engine/KernelClasses.h"

namespace {

const unsigned int kClassBatchPasses = 16;
const unsigned int kClassRepeats = 15;   // best of, interleaved
const DWORD kClassRunMs = 20;            // one measurement

// Time-stamp ticks of the fastest batch of kClassBatchPasses passes over ms.
template <class Batch>
unsigned long long BestBatchTicks(DWORD ms, Batch batch)
{
    unsigned long long best = ~0ull;
    const double end = Seconds() + ms / 1e3;
    do {
        const unsigned long long t0 = __rdtsc();
        batch();
        best = std::min(best, __rdtsc() - t0);
    } while (Seconds() < end);
    return best;
}

void PrintClasses()
{
    char title[200];
    std::snprintf(title, sizeof title,
                  "Kernel classes on %s: verified passes against the ceiling (the same passes without the checks), "
                  "one thread, fastest batch of %u passes over %u interleaved runs of %lu ms each",
                  BrandForTables(), kClassBatchPasses, kClassRepeats, static_cast<unsigned long>(kClassRunMs));
    Title(title);
    Header("| class | variant | core cycles per pass | verified / ceiling | unit instructions per cycle | "
           "DP FLOP per cycle | of the peak |");
    InterlockedExchange(&testRunning, 1);
    ClassWorkspace* workspace = new ClassWorkspace();
    for (int id = 0; id < kClassCount; ++id) {
        const KernelClass& kernelClass = GetKernelClass(static_cast<KernelClassId>(id));
        for (unsigned int v = 0; v < kernelClass.variantCount; ++v) {
            const ClassVariant& variant = *kernelClass.variants[v];
            if (!VariantSupported(variant)) {
                std::printf("| %s | %s | not supported here | | | | |\n", kernelClass.name, variant.name);
                continue;
            }
            variant.prepare(workspace, 1 + v);
            unsigned long long verified = ~0ull, ceiling = ~0ull;
            int check = kCheckClean;
            for (unsigned int r = 0; r < kClassRepeats; ++r) {
                verified = std::min(verified, BestBatchTicks(kClassRunMs, [&] {
                    KernelState state = {};
                    state.passLimit = kClassBatchPasses;
                    check |= variant.loop(workspace, &state);
                }));
                ceiling = std::min(ceiling, BestBatchTicks(kClassRunMs, [&] {
                    variant.ceiling(workspace, kClassBatchPasses);
                }));
            }
            g_coreHz = CoreClockHz();
            const double cycles = static_cast<double>(verified) / kClassBatchPasses * g_coreHz / g_tscPerSecond;
            const double perCycle = variant.unitOpsPerPass / cycles;
            char flop[32] = "", peak[64] = "";
            if (id == kClassFma) {
                // Two fused multiply-add units of the variant's width, two FLOP per lane.
                const double peakFlop = 2.0 * variant.lanes * 2.0;
                std::snprintf(flop, sizeof flop, "%.2f", perCycle * variant.lanes * 2.0);
                std::snprintf(peak, sizeof peak, "%.1f%% of %.0f", 100.0 * perCycle * variant.lanes * 2.0 / peakFlop,
                              peakFlop);
            } else if (id == kClassInteger) {
                std::snprintf(peak, sizeof peak, "%.1f%% of 1 multiply", 100.0 * perCycle);
            }
            std::printf("| %s | %s | %.0f | %.1f%% | %.3f | %s | %s |%s\n", kernelClass.name, variant.name, cycles,
                        100.0 * static_cast<double>(ceiling) / static_cast<double>(verified), perCycle, flop, peak,
                        check != kCheckClean ? " (a pass found an error)" : "");
        }
    }
    delete workspace;
    InterlockedExchange(&testRunning, 0);
    std::printf("\nCore clock with this thread busy (the frequency probe's measurement): %.3f GHz\n", g_coreHz / 1e9);
}

} // namespace
