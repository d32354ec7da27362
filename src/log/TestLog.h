#pragma once
#include <string>

// The log file, resolved against the current directory at every open.
extern const char kLogFileName[];

// Appends "MM/DD/YYYY, hh:mm:ss, message" to the log and shows it in the log view.
// A line that cannot be written is dropped silently; messages beyond 77
// characters are cut so that a line never exceeds 99 characters.
void WriteLog(const char* message);

// Scans the whole log: pieces holding the start and stop markers, whether the
// last stop marker follows the last start marker, and the last piece read.
// lastLine is a 256-byte buffer or null.
void ReadLogHistory(unsigned int* runCount, unsigned int* completedCount,
                    int* lastRunSucceeded, char* lastLine);

struct HistorySummary {
    std::string text;
    unsigned int icon;   // MB_ICONINFORMATION or MB_ICONEXCLAMATION
};

HistorySummary FormatHistorySummary(unsigned int runCount, unsigned int completedCount,
                                    int lastRunSucceeded, const char* lastLine);
