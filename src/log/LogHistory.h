#pragma once
#include <string>

// The log file, resolved against the current directory at every open.
extern const char kLogFileName[];

// Message-box icons of the summary (the platform's information and exclamation icons).
const unsigned int kIconInformation = 0x40;
const unsigned int kIconExclamation = 0x30;

// Scans the whole log: pieces holding the start and stop markers, whether the
// last stop marker follows the last start marker, and the last piece read.
// lastLine is a 256-byte buffer or null.
void ReadLogHistory(unsigned int* runCount, unsigned int* completedCount,
                    int* lastRunSucceeded, char* lastLine);

struct HistorySummary {
    std::string text;
    unsigned int icon;   // kIconInformation or kIconExclamation
};

HistorySummary FormatHistorySummary(unsigned int runCount, unsigned int completedCount,
                                    int lastRunSucceeded, const char* lastLine);
