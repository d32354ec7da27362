// How long the history scan takes on a large log: about twenty of the longest
// runs at one line per second (100 MB).
#include <windows.h>

#include <cstdio>
#include <string>

#include "log/LogHistory.h"

int main(int argc, char** argv)
{
    const double targetMB = argc > 1 ? std::atof(argv[1]) : 100.0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "bw-log-scan";
    CreateDirectoryA(dir.c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());

    FILE* file = std::fopen(kLogFileName, "wb");
    if (!file) {
        std::printf("cannot create %s\\%s\n", dir.c_str(), kLogFileName);
        return 1;
    }
    const size_t target = static_cast<size_t>(targetMB * 1024 * 1024);
    size_t bytes = 0, lines = 0, runs = 0;
    char line[128];
    while (bytes < target) {
        const int n = (lines % 89942 == 0)
            ? (++runs, std::snprintf(line, sizeof line, "12/05/2026, 21:47:05, Test Started --\r\n"))
            : std::snprintf(line, sizeof line, "12/05/2026, 21:47:%02u, Freq %u.%02u MHz, Load %u.%02u%%\r\n",
                            static_cast<unsigned>(lines % 60), 2300 + static_cast<unsigned>(lines % 700),
                            static_cast<unsigned>(lines % 100), 90 + static_cast<unsigned>(lines % 10),
                            static_cast<unsigned>(lines % 100));
        std::fwrite(line, 1, n, file);
        bytes += n;
        ++lines;
    }
    std::fclose(file);

    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    unsigned int runCount = 0, completed = 0;
    int succeeded = 0;
    char lastLine[256];
    double best = 1e30;
    for (int repeat = 0; repeat < 3; ++repeat) {
        QueryPerformanceCounter(&t0);
        ReadLogHistory(&runCount, &completed, &succeeded, lastLine);
        QueryPerformanceCounter(&t1);
        const double seconds = double(t1.QuadPart - t0.QuadPart) / double(frequency.QuadPart);
        if (seconds < best)
            best = seconds;
    }
    std::printf("history scan: %.1f MB, %zu lines, %u runs found, best of 3: %.3f s (%.0f MB/s)\n",
                bytes / 1048576.0, lines, runCount, best, bytes / 1048576.0 / best);
    DeleteFileA(kLogFileName);
    SetCurrentDirectoryA(temp);
    RemoveDirectoryA(dir.c_str());
    return runCount == runs ? 0 : 1;
}
