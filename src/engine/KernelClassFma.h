#pragma once
// The fma class's data, shared by its variants. Each chain x of a pass starts at
// its input value and takes kFmaPairs pairs of steps x = x * m + a and then
// x = -(x * m) + a, with m just below 1 and a in [0.5, 1): each pair takes x to
// about -x + a(1 - m), so the values stay within [-3, 3] and a changed value is
// carried on to the end, neither growing nor shrinking by more than m^(2 kFmaPairs).
// Layout for `chains` vectors of `lanes` doubles: start values, then m, then a.
#include "engine/KernelClasses.h"

const unsigned int kFmaPairs = 256;

// Fills the inputs from seed and the expected results, each lane computed on its
// own by scalar fused multiply-add.
void PrepareFma(ClassWorkspace* workspace, unsigned int seed, unsigned int chains, unsigned int lanes);
