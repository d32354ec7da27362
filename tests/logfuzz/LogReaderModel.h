#pragma once
#include <random>
#include <string>

// A plain model of how the history reader must judge a log file's bytes:
// text-mode translation, 255-character pieces, marker search up to a NUL.
struct ModelHistory {
    unsigned int runs = 0;
    unsigned int completed = 0;
    int succeeded = 1;
    std::string lastLine;
};

// translateText: the runtime's text mode (CR LF read as LF, Ctrl-Z ends the file).
ModelHistory ModelReadHistory(const std::string& fileBytes, bool translateText);

// A random log file: real lines, markers cut at piece boundaries, stray CR,
// NUL and Ctrl-Z bytes, long lines, missing final line feed.
std::string GenerateLogFile(std::mt19937& random);

struct FuzzResult {
    unsigned int files = 0;
    unsigned int mismatches = 0;
    std::string firstMismatch;   // description of the first disagreement
};

// Writes `files` generated logs as Burnwright.log in the current directory and
// compares ReadLogHistory with the model on each.
FuzzResult FuzzLogReader(unsigned int files, unsigned int seed, bool translateText);
