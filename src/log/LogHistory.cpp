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

// The log's bytes, read a block at a time.
struct ByteReader {
    FILE* file;
    unsigned char block[64 * 1024];
    size_t at, length;

    int Next()
    {
        if (at == length) {
            length = std::fread(block, 1, sizeof block, file);
            at = 0;
            if (length == 0)
                return EOF;
        }
        return block[at++];
    }
    int Peek()
    {
        const int c = Next();
        if (c != EOF)
            --at;
        return c;
    }
};

// Reads the next piece of the log: up to kPieceBufferSize - 1 characters, ending
// after a line feed. CR LF reads as LF, a lone CR stays; a zero byte is no
// character (a crash can leave the log's tail as zeros, and the next run appends
// after them); Ctrl-Z is an ordinary byte. Returns the piece's length, 0 at the end.
int ReadPiece(ByteReader* reader, char* piece)
{
    int length = 0;
    while (length < kPieceBufferSize - 1) {
        int c = reader->Next();
        if (c == EOF)
            break;
        if (c == '\0')
            continue;
        if (c == '\r' && reader->Peek() == '\n')
            c = reader->Next();
        piece[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    piece[length] = '\0';
    return length;
}

} // namespace

void ReadLogHistory(unsigned int* runCount, unsigned int* completedCount,
                    int* lastRunSucceeded, char* lastLine)
{
    FILE* file = std::fopen(kLogFileName, "rb");
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

    static ByteReader reader;   // its block is too large for the stack
    reader.file = file;
    reader.at = reader.length = 0;
    // Two piece buffers: the one just read and the last complete one.
    char buffers[2][kPieceBufferSize];
    buffers[0][0] = '\0';
    int last = 0;
    for (;;) {
        char* piece = buffers[1 - last];
        if (ReadPiece(&reader, piece) == 0)
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
