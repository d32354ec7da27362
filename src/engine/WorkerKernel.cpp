#include "engine/WorkerKernel.h"

#include "engine/TestEngine.h"

DWORD WINAPI WorkerThreadProc(LPVOID parameter)
{
    const WorkerArea* area = static_cast<const WorkerArea*>(parameter);
    unsigned char* const base = area->base;
    const unsigned int size = area->size;

    if (testRunning == 0)
        return 0;

    const unsigned int n = size / 32;
    if (n == 0) {
        while (testRunning != 0) {
        }
        return 0;
    }

    const double* const a = reinterpret_cast<const double*>(base);
    const double* const b = reinterpret_cast<const double*>(base + size / 4);
    const double* const c = reinterpret_cast<const double*>(base + size / 2);
    double* const d = reinterpret_cast<double*>(base + 3 * (size / 4));

    do {
        for (unsigned int j = 0; j < n; j += 16) {
            for (unsigned int k = 0; k < 16; ++k) {
                const double product = a[j + k] * b[j + k];
                d[j + k] = product + c[j + k];
            }
        }
    } while (testRunning != 0);
    return 0;
}
