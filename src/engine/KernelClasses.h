#pragma once
// Kernel classes: loads aimed at one unit of the core each (fused multiply-add,
// the integer multiplier and divider, vector integer and shuffles, crypto), each
// in the instruction-set variants the processor may run. Every pass works on a
// workspace its variant prepared and checks every result it computes against a
// reference that a fault of the unit under test cannot also produce.
#include "engine/CpuFeatures.h"
#include "engine/WorkerKernel.h"

enum KernelClassId {
    kClassFma = 0,
    kClassInteger = 1,
    kClassVector = 2,
    kClassCrypto = 3,
    kClassCount = 4
};

// The data of one worker's passes: inputs the passes only read, the results they
// must produce, and the lane-wise XOR of the inputs' 64-byte blocks.
const unsigned int kClassInputWords = 512;
const unsigned int kClassResultWords = 256;
struct alignas(64) ClassWorkspace {
    unsigned long long input[kClassInputWords];
    unsigned long long expected[kClassResultWords];
    unsigned long long inputSum[8];
    unsigned int inputWords;    // used, a multiple of 8
    unsigned int resultWords;   // used
};

// Fills the workspace with data drawn from seed and the results they must give.
typedef void (*ClassPrepareFn)(ClassWorkspace* workspace, unsigned int seed);
// Verified passes until testRunning reads 0 after a pass or state->passes reaches
// a nonzero state->passLimit (kCheckClean), or a pass finds an error: then the
// KernelCheck, with state->bits the bits that differed (changed inputs win over
// wrong results). state->passes counts passes; state->inputSum is unused.
typedef int (*ClassLoopFn)(ClassWorkspace* workspace, KernelState* state);
// The same passes without their checks, for measuring what the checks cost:
// until testRunning reads 0 or `passes` are made; returns the passes made.
typedef unsigned long long (*ClassCeilingFn)(ClassWorkspace* workspace, unsigned long long passes);

struct ClassVariant {
    const char* name;
    unsigned int requires;        // CpuFeature bits
    ClassPrepareFn prepare;
    ClassLoopFn loop;
    ClassCeilingFn ceiling;
    unsigned long long unitOpsPerPass;   // instructions of the unit under test in one pass
    unsigned int lanes;                  // values each of those instructions computes
};

struct KernelClass {
    const char* name;   // "fma", "integer", "vector", "crypto"
    const ClassVariant* const* variants;
    unsigned int variantCount;
};

const KernelClass& GetKernelClass(KernelClassId id);
bool VariantSupported(const ClassVariant& variant, unsigned int features);
inline bool VariantSupported(const ClassVariant& variant) { return VariantSupported(variant, CpuFeatures()); }
