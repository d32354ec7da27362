#pragma once
#include <string>

// How the history reader must judge a log file's bytes, written plainly: text-mode
// translation (CR LF read as LF, Ctrl-Z ends the file) when asked, 255-character
// pieces, markers found only before a NUL. Also built for the host (no text mode).
struct ModelHistory {
    unsigned int runs = 0, completed = 0;
    int succeeded = 0;
    std::string lastLine;
};
ModelHistory ModelReadHistory(const std::string& bytes, bool textMode);

// Writes `files` generated logs (real lines, markers across piece boundaries, stray
// CR, NUL and Ctrl-Z, long lines) as Burnwright.log in the current directory and
// compares ReadLogHistory with the model, guarding the 256-byte buffer. Returns
// the first disagreement, or "" when there is none.
std::string FuzzLogReader(unsigned int files, unsigned int seed, bool textMode);
