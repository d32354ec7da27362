#pragma once
#include <emmintrin.h>
#include <windows.h>

#include "engine/MemoryPlan.h"

struct WorkerArea;

// Body of every worker thread: loads the floating-point unit (and, with a large
// area, memory) until testRunning is cleared, and checks every result it makes.
// The parameter is a WorkerArea* whose area FillWorkerArea has prepared.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);

// What a pass found.
enum KernelCheck {
    kCheckClean = 0,
    kCheckWrongResult = 1,    // a result differs from the one the pass before stored
    kCheckChangedInput = 2,   // the inputs differ from what the pass before read
};

// What a worker carries from one pass to the next over the same area.
struct KernelState {
    unsigned long long inputSum;    // XOR of the input words the last pass read (or a fill wrote)
    unsigned long long passes;      // 0 before the first pass; a loop stores it after each pass
    unsigned long long passLimit;   // a loop returns once passes reaches it; 0: no limit
    unsigned long long bits;        // set by a pass that finds an error: the bits that differed
    int inputKnown;                 // inputSum holds the fill's XOR before the first pass: it is checked too
};

// Stores a loop's count of passes, where other threads may read it, in one 64-bit
// store. 32-bit code joins the count's halves in a vector register and stores it
// as a double (volatile: stored every time, in one instruction, VEX-encoded in
// AVX code): joined on the stack, two 32-bit stores and then a 64-bit load, the
// atomic store stalled every pass.
inline void StorePassCount(KernelState* state, unsigned long long passes)
{
#if defined(__x86_64__)
    __atomic_store_n(&state->passes, passes, __ATOMIC_RELAXED);
#else
    typedef double __attribute__((may_alias)) CountWord;
    const __m128i count = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(passes)),
                                             _mm_cvtsi32_si128(static_cast<int>(passes >> 32)));
    *reinterpret_cast<volatile CountWord*>(&state->passes) = _mm_cvtsd_f64(_mm_castsi128_pd(count));
#endif
}

// One verified pass over an area's quarters a, b, c (read) and d (read, then
// written): for j in [0, n), r = a[j] * b[j] + c[j], the product rounded to
// double and then the sum rounded to double (never fused), is stored in d[j].
// The d[j] in place must already be r, as the pass before (or a fill) stored it,
// and the XOR of the input words must still be state->inputSum (unless no pass
// came before and no fill's XOR is known). n is a multiple of 16; the arrays are
// 8-byte aligned and disjoint.
// Returns a KernelCheck. Changed inputs win over a wrong result (they cause any
// wrong result they feed): state->bits is then the flipped bits of one changed
// word (the loop's later passes compare lane by lane and OR the lanes' changes,
// so that the same bit changed in two lanes does not cancel); for a wrong result
// it is the OR of expected XOR found over the wrong words.
typedef int (*KernelPassFn)(const double* a, const double* b, const double* c, double* d,
                            size_t n, KernelState* state);

// Verified passes over the same arrays until testRunning reads 0 after a pass or
// state->passes reaches a nonzero state->passLimit (at least one pass; returns
// kCheckClean), or a pass finds an error (returns its KernelCheck, with the bits
// that pass found; a loop may end one pass after it, never past the limit). The
// flag and the limit are read only between passes.
typedef int (*KernelLoopFn)(const double* a, const double* b, const double* c, double* d,
                            size_t n, KernelState* state);

// Instruction sets the kernel comes in, narrowest first.
enum KernelVariant {
    kKernelSse2 = 0,    // 128-bit, the baseline every supported processor has
    kKernelAvx = 1,     // 256-bit; only AVX instructions, so AVX2 processors and AVX-only ones
    kKernelAvx512 = 2,  // 512-bit, AVX-512F
    kKernelVariantCount = 3
};

// One variant's entry points. They store with ordinary stores at every area
// size: d is read just before it is written, so its lines are in the cache.
struct KernelImpl {
    const char* name;
    KernelPassFn pass;
    KernelLoopFn loop;
};

const KernelImpl& GetKernelImpl(KernelVariant variant);

// The widest variant that both the processor and the operating system support.
KernelVariant BestKernelVariant();

// Passes of `loop` over a worker's prepared areas (`first` and those linked from
// it, each holding its fill's XOR in fillSum), each in turn, until testRunning reads 0. An area gets a fresh state
// (always right after a pass that verified all of it) once kRefillMs have passed
// since its last one and its own passes since then have taken kRefillShare times
// that refill's time:
// alternately the bitwise complement of its inputs and a new pattern
// (RefillWorkerArea). Errors are recorded for the engine against `first`.
// Returns the passes made and stores the bytes swept in first->swept. The clock
// is read between passes only, about every kClockMs per area.
const unsigned int kRefillMs = 800;
const long long kRefillShare = 20;
const unsigned int kClockMs = 50;
unsigned long long RunWorkerArea(WorkerArea* first, KernelLoopFn loop);

// One area of a worker's list and what its passes carry.
struct AreaRun {
    const WorkerArea* area;
    KernelState state;
    unsigned long long budget;   // passes between clock reads
    long long swept;             // counts spent on its passes since its last refill
    long long refillGap;         // counts its passes must take before its next refill
    long long lastRefill;        // clock count of its last refill (or of the run's start)
    unsigned int refills;
};

// A worker's passes over its areas, resumable: RunWorkerArea in parts, each part
// ending at a clock count or when a flag clears, the states carried across parts
// (and across kernel variants: the sums do not depend on the vector width).
struct WorkerRun {
    WorkerArea* first;                     // the worker's first area, which its errors are recorded against
    AreaRun runs[kMaxWorkerAreas];
    unsigned int count;
    unsigned int next;                     // the area the next part begins with
    long long clockCounts, refillCounts;   // kClockMs and kRefillMs in counter units
    unsigned int load;                     // the KernelLoad its errors are recorded with
    bool ownCounted;
    bool* counted;                         // the worker's error has been recorded (its own flag, or one shared)
    unsigned long long passes, swept;
};

// Until testRunning or *running reads 0, the clock reaches `until` (0: never), or
// (stopOnError) a pass finds an error.
struct WorkerRunLimits {
    const volatile LONG* running;
    long long until;
    bool stopOnError;
};

// `areas`: the areas to run (default: first's); errors are recorded against `first`.
void BeginWorkerRun(WorkerRun* run, WorkerArea* first, WorkerArea* areas = nullptr, unsigned int load = 0);
// Every area of the run gets a new pattern (fresh data), its state with it.
void RefreshWorkerRun(WorkerRun* run);
// Records a worker's error for the engine: the first error of a run names its
// worker (by its first area), its kind, its load, its processor and its bits;
// each worker that finds errors is counted once.
void RecordWorkerError(const WorkerArea* first, int check, unsigned long long bits, unsigned int load, bool* counted);
// Runs passes as RunWorkerArea does, within the limits, beginning with the area
// after the one the last part ended with, so that every area is checked in
// turn however the run is cut into parts (each part runs one area at least);
// returns the first error's KernelCheck (when stopOnError), else kCheckClean.
int ContinueWorkerRun(WorkerRun* run, KernelLoopFn loop, const WorkerRunLimits& limits);

// Refill number `refill` (1, 2, ...) of an area the kernel runs on: odd numbers
// complement every input word (their XOR is unchanged), even ones fill a new
// pattern of a seed drawn from the area's address and the number. The results
// are computed from the new inputs; state->inputSum is set to their XOR.
// An area's size must be a multiple of kAreaGranule, so that the loop covers it
// whole, or below 32 bytes (its worker idles).
const SIZE_T kAreaGranule = 512;
inline bool AreaSizeFits(SIZE_T size)
{
    return size < 32 || size % kAreaGranule == 0;
}
void RefillWorkerArea(const WorkerArea* area, unsigned int refill, KernelState* state);
