#include "engine/TestEngine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Clock.h"
#include "log/TestLog.h"
#include "probes/CpuFrequency.h"
#include "probes/CpuLoad.h"

namespace {

const size_t kTextBufferSize = 100;

} // namespace

// One sample per log interval: ends the run as failed when a worker found an
// error, reports the end of the duration, or logs the clock rate and, if asked,
// the processor load.
HRESULT CTestEngine::SampleTick()
{
    // Checked first: a failure is never reported as a run that completed. Each
    // core in turn goes on after a core's failure (TurnTick logs it).
    if (failedWorkerArea && !coreTurnCount)
        return StopTest();

    const unsigned int elapsedMs = GetTimeMs() - startTimeMs;
    if (elapsedMs > config.durationMs)
        return S_FALSE;

    // Probe results are not checked: a failed probe leaves its figure at 0.
    // Each core in turn: the clock its worker measured on the core under test,
    // 0 while no core is under load (its memory being filled, or it failed).
    double frequency = 0.0;
    if (coreTurnCount)
        frequency = turnClockKHz * 1000.0;
    else
        MeasureCpuFrequency(&frequency);
    char frequencyPiece[kTextBufferSize];
    std::snprintf(frequencyPiece, sizeof frequencyPiece, "Freq %.2lf MHz", frequency * 0.000001);

    char status[kTextBufferSize];
    std::snprintf(status, sizeof status, "%s", frequencyPiece);

    if (config.logCpuLoad) {
        double load = 0.0;
        MeasureCpuLoad(&load);
        char loadPiece[kTextBufferSize];
        std::snprintf(loadPiece, sizeof loadPiece, ", Load %.2lf%%", load);
        std::strncat(status, loadPiece, sizeof status - std::strlen(status) - 1);
    }

    WriteLog(status);
    const double logged = std::strtod(frequencyPiece + 5, nullptr);   // the figure as logged
    if (logged > 0.0)   // 0.00: nothing was measured
        outcome.clockMHz.push_back(logged);
    return S_OK;
}
