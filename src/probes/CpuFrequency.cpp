#include "probes/CpuFrequency.h"

#include <windows.h>

#include "engine/KernelServices.h"

namespace {

const unsigned int kCpuidCount = 200000;

// Raises the process and thread for one measurement and puts back what was
// there before. A priority that could not be read is neither raised nor
// "restored": setting an unreadable value back would fail and leave the
// process in the realtime class.
class RaisedPriority {
public:
    RaisedPriority()
        : process_(g_kernel.GetCurrentProcess()),
          savedClass_(g_kernel.GetPriorityClass(process_)),
          thread_(g_kernel.GetCurrentThread()),
          savedPriority_(g_kernel.GetThreadPriority(thread_))
    {
        if (savedClass_ != 0)
            g_kernel.SetPriorityClass(process_, REALTIME_PRIORITY_CLASS);
        if (savedPriority_ != THREAD_PRIORITY_ERROR_RETURN)
            g_kernel.SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
    }

    void Restore()
    {
        if (savedClass_ != 0)
            g_kernel.SetPriorityClass(process_, savedClass_);
        if (savedPriority_ != THREAD_PRIORITY_ERROR_RETURN)
            g_kernel.SetThreadPriority(thread_, savedPriority_);
    }

private:
    HANDLE process_;
    DWORD savedClass_;
    HANDLE thread_;
    int savedPriority_;
};

} // namespace

int MeasureCpuFrequency(double* frequencyHz)
{
    RaisedPriority priority;
    g_kernel.Sleep(1);

    LARGE_INTEGER counterFrequency;
    if (!g_kernel.QueryPerformanceFrequency(&counterFrequency)) {
        priority.Restore();
        return 0;
    }

    // Start the interval on an edge of the performance counter.
    LARGE_INTEGER start = {};
    LARGE_INTEGER t0 = {};
    unsigned long long s0 = 0;
    g_kernel.QueryPerformanceCounter(&start);
    do {
        g_kernel.QueryPerformanceCounter(&t0);
        s0 = g_kernel.ReadStampCounter();
    } while (t0.LowPart == start.LowPart);

    for (unsigned int i = 0; i < kCpuidCount; ++i)
        g_kernel.ExecuteCpuid(0, 0);

    LARGE_INTEGER t1 = t0;
    g_kernel.QueryPerformanceCounter(&t1);
    const unsigned long long s1 = g_kernel.ReadStampCounter();

    priority.Restore();
    g_kernel.Sleep(1);

    const long long stampTicks = static_cast<long long>(s1 - s0);
    const long long counterTicks = t1.QuadPart - t0.QuadPart;
    // A counter that did not move forward gives no interval to divide by.
    if (counterTicks <= 0)
        return 0;
    *frequencyHz = static_cast<double>(counterFrequency.QuadPart) * static_cast<double>(stampTicks) /
                   static_cast<double>(counterTicks);
    return 1;
}
