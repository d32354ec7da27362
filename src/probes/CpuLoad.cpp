#include "probes/CpuLoad.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

#include "kernel/KernelServices.h"

double previousIdleTime = 0.0;
double previousSystemTime = 0.0;

namespace {

typedef LONG(WINAPI* NtQuerySystemInformationFn)(ULONG infoClass, PVOID buffer, ULONG length,
                                                 PULONG returnedLength);

const ULONG kBasicInformation = 0;
const ULONG kPerformanceInformation = 2;
const ULONG kTimeOfDayInformation = 3;

// Buffer lengths of the three queries and where the probe's fields lie in them.
// The 32-bit program keeps its proven lengths; a 64-bit build must pass the
// native records, whose basic information is longer (the system checks it exactly).
#ifdef _WIN64
const ULONG kBasicLength = sizeof(SYSTEM_BASIC_INFORMATION);
const size_t kProcessorCountOffset = offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors);
const ULONG kTimeOfDayLength = sizeof(SYSTEM_TIMEOFDAY_INFORMATION);
const ULONG kPerformanceLength = sizeof(SYSTEM_PERFORMANCE_INFORMATION);
#else
const ULONG kBasicLength = 44;
const size_t kProcessorCountOffset = 40;
const ULONG kTimeOfDayLength = 32;
const ULONG kPerformanceLength = 312;
#endif
const size_t kCurrentTimeOffset = 8;   // SYSTEM_TIMEOFDAY_INFORMATION.CurrentTime
const size_t kIdleTimeOffset = 0;      // SYSTEM_PERFORMANCE_INFORMATION.IdleTime

long long ReadInt64(const unsigned char* bytes)
{
    long long value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

} // namespace

int MeasureCpuLoad(double* load)
{
    *load = 0.0;

    HMODULE ntdll = g_kernel.GetModuleHandleA("ntdll");
    if (!ntdll)
        return 0;
    NtQuerySystemInformationFn query = reinterpret_cast<NtQuerySystemInformationFn>(
        reinterpret_cast<void*>(g_kernel.GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (!query)
        return 0;

    alignas(8) unsigned char basic[kBasicLength];
    alignas(8) unsigned char timeOfDay[kTimeOfDayLength];
    alignas(8) unsigned char performance[kPerformanceLength];
    if (query(kBasicInformation, basic, sizeof basic, nullptr) != 0)
        return 0;
    if (query(kTimeOfDayInformation, timeOfDay, sizeof timeOfDay, nullptr) != 0)
        return 0;
    if (query(kPerformanceInformation, performance, sizeof performance, nullptr) != 0)
        return 0;

    const unsigned int processors = basic[kProcessorCountOffset];
    const double systemTime = static_cast<double>(ReadInt64(timeOfDay + kCurrentTimeOffset));
    const double idleTime = static_cast<double>(ReadInt64(performance + kIdleTimeOffset));
    // No processors or no time since the previous reading: no figure can be
    // formed, so the reading fails and the previous one stays the baseline.
    if (processors == 0)
        return 0;
    if (previousIdleTime != 0.0 && !(systemTime - previousSystemTime > 0.0))
        return 0;

    double idlePercent = 100.0;
    if (previousIdleTime != 0.0)
        idlePercent = (idleTime - previousIdleTime) / (systemTime - previousSystemTime) * 100.0 / processors;

    previousIdleTime = idleTime;
    previousSystemTime = systemTime;
    *load = 100.0 - idlePercent;
    return 1;
}
