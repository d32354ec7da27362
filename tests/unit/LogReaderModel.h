#pragma once
#include <string>

// How the history reader must judge a log file's bytes, written plainly: CR LF read
// as LF, zero bytes dropped, Ctrl-Z an ordinary byte, then 255-character pieces
// that end after a line feed. Also built for the host.
struct ModelHistory {
    unsigned int runs = 0, completed = 0;
    int succeeded = 0;
    std::string lastLine;
};
ModelHistory ModelReadHistory(const std::string& bytes);

// Writes `files` generated logs (real lines, markers across piece boundaries, stray
// CR, NUL and Ctrl-Z, runs of zeros, long lines) as Burnwright.log in the current
// directory and compares ReadLogHistory with the model, guarding the 256-byte
// buffer. Returns the first disagreement, or "" when there is none.
std::string FuzzLogReader(unsigned int files, unsigned int seed);
