#pragma once

// Prepares one worker area for the kernel: the input quarters a, b and c get
// pattern doubles with varied mantissas (a different sequence for every seed),
// and d the results a pass makes of them, a*b + c (the product rounded, then the
// sum), so that the first pass already checks its results. The seed also picks
// one of three value ranges, so that over refills every sign and exponent bit of
// the results takes both values: seed % 3 == 0 all in [1, 2); 1 as 0 but b
// negative; 2 as 0 but b in [1/16, 1/8) and c in [1, 1.5) (results in [1, 2)).
// The size is a multiple of 512 bytes, or below 32 (nothing to fill).
// Returns the XOR of the input words written (as the kernel sums them).
unsigned long long FillWorkerArea(unsigned char* base, unsigned int size, unsigned int seed);

// Replaces every input word of a prepared area by its bitwise complement and
// every result by a*b + c of the new inputs (computed as FillWorkerArea does).
// The XOR of the input words is unchanged (their count is even).
void ComplementWorkerArea(unsigned char* base, unsigned int size);
