#pragma once
#include <stddef.h>

// Prepares one worker area for the kernel: the input quarters a, b and c get
// pattern doubles with varied mantissas (a different sequence for every seed),
// and d the results a pass makes of them, a*b + c (the product rounded, then the
// sum), so that the first pass already checks its results. The seed also picks
// one of three value ranges, so that over refills every sign and exponent bit of
// the results takes both values: seed % 3 == 0 all in [1, 2); 1 as 0 but b
// negative; 2 as 0 but b in [1/16, 1/8) and c in [1, 1.5) (results in [1, 2)).
// The size is a multiple of 512 bytes, or below 32 (nothing to fill).
// Returns the XOR of the input words written (as the kernel sums them).
unsigned long long FillWorkerArea(unsigned char* base, size_t size, unsigned int seed);

// The sequence restarts every kFillChunk indices of each quarter from the seed and
// the chunk's number, so that parts of one area can be filled at the same time:
// FillWorkerAreaPart fills indices [begin, end) of every quarter, begin a multiple
// of kFillChunk, end a multiple of 2 (or the quarter's length), and returns the
// XOR of the input words it wrote. The parts' XORs combine to the whole fill's.
const size_t kFillChunk = 8192;
unsigned long long FillWorkerAreaPart(unsigned char* base, size_t size, unsigned int seed,
                                      size_t begin, size_t end);

// Replaces every input word of a prepared area by its bitwise complement and
// every result by a*b + c of the new inputs (computed as FillWorkerArea does).
// The XOR of the input words is unchanged (their count is even).
void ComplementWorkerArea(unsigned char* base, size_t size);
