#include "engine/Clock.h"

#include "kernel/KernelServices.h"

int clockMode = 0;
double msPerCount = 0.0;

long long PerformanceCount()
{
    LARGE_INTEGER count;
    return g_kernel.QueryPerformanceCounter(&count) ? count.QuadPart : 0;
}

long long PerformanceFrequency()
{
    LARGE_INTEGER frequency;
    return g_kernel.QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 ? frequency.QuadPart : 1000;
}

unsigned int GetTimeMs()
{
    if (clockMode == 0) {
        LARGE_INTEGER frequency;
        if (!g_kernel.QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
            clockMode = 2;
            return g_kernel.GetTickCount();
        }
        msPerCount = 1000.0 / static_cast<double>(frequency.QuadPart);
        clockMode = 1;
    }
    if (clockMode == 2)
        return g_kernel.GetTickCount();

    LARGE_INTEGER count;
    if (!g_kernel.QueryPerformanceCounter(&count))
        return 0;
    const long long ms = static_cast<long long>(static_cast<double>(count.QuadPart) * msPerCount);
    return static_cast<unsigned int>(ms);
}
