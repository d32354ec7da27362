#pragma once
// Kernel classes: loads aimed at one unit of the core each (fused multiply-add,
// the integer multiplier and divider, vector integer and shuffles, crypto), each
// in the instruction-set variants the processor may run. Every pass works on a
// workspace its variant prepared and checks every result it computes against a
// reference that a fault of the unit under test cannot also produce.
#include "engine/WorkerKernel.h"

enum KernelClassId {
    kClassFma = 0,
    kClassInteger = 1,
    kClassVector = 2,
    kClassCrypto = 3,
    kClassCount = 4
};

// What the processor and the operating system offer, as bits.
enum CpuFeature : unsigned int {
    kCpuSsse3 = 1u << 0,
    kCpuSse41 = 1u << 1,
    kCpuSse42 = 1u << 2,
    kCpuPopcnt = 1u << 3,
    kCpuAes = 1u << 4,
    kCpuPclmul = 1u << 5,
    kCpuAvx = 1u << 6,      // with the YMM state saved by the operating system
    kCpuAvx2 = 1u << 7,
    kCpuFma = 1u << 8,
    kCpuBmi1 = 1u << 9,
    kCpuBmi2 = 1u << 10,
    kCpuLzcnt = 1u << 11,
    kCpuSha = 1u << 12,
    kCpuAvx512f = 1u << 13,   // with the opmask and ZMM state saved
    kCpuAvx512bw = 1u << 14,
};

// The CPUID and XGETBV words the features are decoded from.
struct CpuidWords {
    unsigned int maxLeaf;
    unsigned int leaf1Ecx;
    unsigned int leaf7Ebx;
    unsigned int maxExtLeaf;
    unsigned int ext1Ecx;       // leaf 0x80000001, ECX (LZCNT)
    unsigned long long xcr0;    // 0 without OSXSAVE
};

CpuidWords ReadCpuidWords();
unsigned int DecodeCpuFeatures(const CpuidWords& words);
// DecodeCpuFeatures(ReadCpuidWords()), read once.
unsigned int CpuFeatures();

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
