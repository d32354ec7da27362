#pragma once

// Prepares one worker area for the kernel: the input quarters a, b and c get
// pattern doubles in [1, 2) with varied mantissas (a different sequence for
// every seed), and d the results a pass makes of them, a*b + c, so that the
// first pass already checks its results. The size is a multiple of 512 bytes,
// or below 32 (nothing to fill).
void FillWorkerArea(unsigned char* base, unsigned int size, unsigned int seed);
