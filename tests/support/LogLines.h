#pragma once
#include <string>
#include <vector>

// Lines of a log file as stored on disk, split at CR LF (line ends removed).
std::vector<std::string> SplitLogLines(const std::string& fileBytes);

// The messages of those lines: each line without its 22-character timestamp.
std::vector<std::string> LogMessages(const std::string& fileBytes);
