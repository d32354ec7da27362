#pragma once

// State of GetTimeMs: 0 not chosen yet, 1 performance counter, 2 tick count.
extern int clockMode;
extern double msPerCount;

// Milliseconds on the counter's own time base, modulo 2^32; use differences only.
unsigned int GetTimeMs();

// The performance counter through the kernel seam, or 0 when it cannot be read.
long long PerformanceCount();

// The performance counter's counts per second through the kernel seam, or 1000
// when it cannot be read.
long long PerformanceFrequency();
