#include "support/LogLines.h"

std::vector<std::string> SplitLogLines(const std::string& fileBytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < fileBytes.size()) {
        size_t end = fileBytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(fileBytes.substr(start));
            break;
        }
        lines.push_back(fileBytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> LogMessages(const std::string& fileBytes)
{
    std::vector<std::string> messages;
    for (const std::string& line : SplitLogLines(fileBytes))
        messages.push_back(line.size() >= 22 ? line.substr(22) : line);
    return messages;
}
