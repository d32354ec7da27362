#pragma once
#include <windows.h>
#include <intrin.h>

// Time-stamp counter ticks per second, timed with the performance counter over ~100 ms.
inline double StampRate()
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const unsigned long long s0 = __rdtsc();
    do {
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < frequency.QuadPart / 10);
    const unsigned long long s1 = __rdtsc();
    return static_cast<double>(s1 - s0) * static_cast<double>(frequency.QuadPart) /
           static_cast<double>(now.QuadPart - start.QuadPart);
}
