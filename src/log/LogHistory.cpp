#include "log/LogHistory.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
static_assert(kIconInformation == MB_ICONINFORMATION, "information icon");
static_assert(kIconExclamation == MB_ICONEXCLAMATION, "exclamation icon");
#endif

const char kLogFileName[] = "Burnwright.log";

namespace {

const char kStartMarker[] = "Test Started --";
const char kStopMarker[] = "Test Stopped --";
const int kPieceBufferSize = 256;

} // namespace

void ReadLogHistory(unsigned int* runCount, unsigned int* completedCount,
                    int* lastRunSucceeded, char* lastLine)
{
    FILE* file = std::fopen(kLogFileName, "rt");
    if (!file) {
        *runCount = 0;
        *completedCount = 0;
        *lastRunSucceeded = 1;
        return;
    }

    unsigned int runs = 0;
    unsigned int completed = 0;
    long long position = 0;
    long long lastStart = -1;
    long long lastStop = -1;

    // Two piece buffers: the one just read and the last complete one.
    char buffers[2][kPieceBufferSize];
    buffers[0][0] = '\0';
    int last = 0;
    for (;;) {
        char* piece = buffers[1 - last];
        if (!std::fgets(piece, kPieceBufferSize, file))
            break;
        last = 1 - last;
        if (std::strstr(piece, kStartMarker)) {
            ++runs;
            lastStart = position;
        }
        if (std::strstr(piece, kStopMarker)) {
            ++completed;
            lastStop = position;
        }
        ++position;
        if (std::feof(file))
            break;
    }
    std::fclose(file);

    if (lastLine)
        std::memcpy(lastLine, buffers[last], std::strlen(buffers[last]) + 1);
    *lastRunSucceeded = lastStop > lastStart ? 1 : 0;
    *runCount = runs;
    *completedCount = completed;
}

HistorySummary FormatHistorySummary(unsigned int runCount, unsigned int completedCount,
                                    int lastRunSucceeded, const char* lastLine)
{
    HistorySummary summary;
    if (runCount == 0) {
        summary.text = "Burnwright is running for the first time.";
        summary.icon = kIconInformation;
        return summary;
    }

    char head[160];
    std::snprintf(head, sizeof head,
                  "Burnwright was run for %u times so far (%u completed successfully)\n"
                  "Last test status is ",
                  runCount, completedCount);
    summary.text = head;
    if (lastRunSucceeded == 1) {
        summary.text += "SUCCESSFUL\n";
        summary.icon = kIconInformation;
    } else {
        summary.text += "FAILED (last log line is shown below)\n";
        if (lastLine)
            summary.text += lastLine;
        summary.icon = kIconExclamation;
    }
    return summary;
}
