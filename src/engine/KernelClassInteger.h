#pragma once
// The integer class's sizes and reference; its steps are in
// engine/KernelClassIntegerChains.h. Each pass runs kIntegerBlocks blocks; a
// block steps every multiply chain kMulSteps times, every shift chain kShiftSteps
// times and the division chain once, so that neither the shift chains' latency
// nor the divider's holds the multiplier back: all three take the integer pipes.
#include "engine/KernelClasses.h"

const unsigned int kIntegerBlocks = 8;
const unsigned int kMulSteps = 64, kShiftSteps = 2;
// A multiply of three or four cycles plus an add, at one multiply a cycle: six
// chains in flight at least, eight where the registers allow them.
#if defined(__x86_64__)
const unsigned int kMulChains = 8;
const unsigned int kShiftChains = 2;
#else
const unsigned int kMulChains = 6;   // and the multiplier in memory: seven general registers
const unsigned int kShiftChains = 1;
#endif
// Input words: multiply chains, shift chains, the division chain, multiplier,
// divisor, two addends. Results: the chains' ends in the same order.
const unsigned int kIntegerInputs = kMulChains + kShiftChains + 5;
const unsigned int kIntegerResults = kMulChains + kShiftChains + 1;

#define INTEGER_INLINE inline __attribute__((always_inline))

// The general registers' width: 64 bits in x86-64, 32 in the 32-bit build.
#if defined(__x86_64__)
typedef unsigned long long IntegerWord;
#else
typedef unsigned int IntegerWord;
#endif

// What both hardware variants compute with the same instructions: the low half
// by IMUL, and DIV.
struct HardwareIntegerOps {
    typedef IntegerWord W;
    static INTEGER_INLINE W MulLo(W a, W b) { return static_cast<W>(a * b); }
    static INTEGER_INLINE W Div(W n, W d, W* remainder)
    {
        *remainder = n % d;
        return n / d;
    }
};

// The expected results of a pass over these inputs, by the reference's steps.
void IntegerReference(const unsigned long long* input, bool bitCounts, unsigned long long* expected);

// Inputs from seed and their expected results.
void PrepareInteger(ClassWorkspace* workspace, unsigned int seed, bool bitCounts);
