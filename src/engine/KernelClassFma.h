#pragma once
// The fma class's data, shared by its variants. Each chain x of a pass starts at
// its input value in [1, 2) and takes kFmaPairs pairs of steps x = x * m + x and
// then x = -(x * m) + x, with m in [2^-7, 2^-6): each pair takes x to about
// x(1 - m^2), so the values stay within [0.9, 2.1] and a changed value is carried
// on to the end, neither growing nor shrinking by more than 6%. One constant, which
// a step can take from memory: in eight registers every one then holds a chain.
// Layout for `chains` vectors of `lanes` doubles: start values, then m.
#include "engine/KernelClasses.h"

const unsigned int kFmaPairs = 256;

// Fills the inputs from seed and the expected results, each lane computed on its
// own by scalar fused multiply-add.
void PrepareFma(ClassWorkspace* workspace, unsigned int seed, unsigned int chains, unsigned int lanes);
