#pragma once
// The vector class's data, shared by its variants. Each chain is one register of
// integers; a step multiplies its 32-bit lanes (low halves) and its 16-bit lanes
// by odd multipliers, adds to its 64-bit lanes, XORs in the 64-bit products of its
// even 32-bit lanes, shuffles its bytes within each 128-bit lane and, in the wide
// variants, permutes its 32-bit lanes across the register (and in AVX-512 mixes
// pairs of chains with two-source permutes). The expected results are those of
// the pass the preparation runs: each later pass on the same data must match.
//
// Layout for `chains` registers of `words` 64-bit words: start values, then one
// register each of multiplier K (odd in every 16-bit lane), second multiplier,
// addend, byte shuffle (a permutation of 0-15 per 128-bit lane), 32-bit lane
// permutation, and two halves of a permutation of the pair's 64-bit lanes.
#include "engine/KernelClasses.h"

const unsigned int kVectorSteps = 128;
enum VectorSlot { kVecK = 0, kVecK2, kVecAdd, kVecShuffle, kVecPermute, kVecMixLow, kVecMixHigh, kVecSlots };

// Fills the inputs from seed (not the expected results).
void PrepareVectorInputs(ClassWorkspace* workspace, unsigned int seed, unsigned int chains, unsigned int words);
