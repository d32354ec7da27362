#include "logfuzz/LogReaderModel.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "log/LogHistory.h"

namespace {

const char kStart[] = "Test Started --";
const char kStop[] = "Test Stopped --";

bool PieceHas(const std::string& piece, const char* marker)
{
    // The reader sees the piece as a C string: anything after a NUL is invisible.
    const std::string visible = piece.substr(0, piece.find('\0'));
    return visible.find(marker) != std::string::npos;
}

std::string Translate(const std::string& bytes)
{
    std::string text;
    const size_t end = bytes.find('\x1a');
    const std::string kept = bytes.substr(0, end);
    for (size_t i = 0; i < kept.size(); ++i) {
        if (kept[i] == '\r' && i + 1 < kept.size() && kept[i + 1] == '\n')
            continue;
        text += kept[i];
    }
    return text;
}

} // namespace

ModelHistory ModelReadHistory(const std::string& fileBytes, bool translateText)
{
    const std::string text = translateText ? Translate(fileBytes) : fileBytes;
    ModelHistory model;
    long long position = 0, lastStart = -1, lastStop = -1;
    size_t at = 0;
    while (at < text.size()) {
        size_t length = 0;
        while (length < 255 && at + length < text.size()) {
            ++length;
            if (text[at + length - 1] == '\n')
                break;
        }
        const std::string piece = text.substr(at, length);
        at += length;
        if (PieceHas(piece, kStart)) {
            ++model.runs;
            lastStart = position;
        }
        if (PieceHas(piece, kStop)) {
            ++model.completed;
            lastStop = position;
        }
        ++position;
        model.lastLine = piece.substr(0, piece.find('\0'));
    }
    model.succeeded = lastStop > lastStart ? 1 : 0;
    return model;
}

std::string GenerateLogFile(std::mt19937& random)
{
    auto pick = [&random](unsigned int n) { return static_cast<unsigned int>(random() % n); };
    const char* const fragments[] = {
        "12/05/2026, 21:47:05, Test Started --\r\n",
        "12/05/2026, 21:47:31, Test Stopped --\r\n",
        "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n",
        "Test Started --", "Test Stopped --", "Test Sta", "rted --", "Test Stop", "ped --",
        "\r\n", "\n", "\r", "\r\r\n", std::string(1, '\0').c_str(), "\x1a", "%s%n%%",
    };
    std::string file;
    const unsigned int parts = pick(40);
    for (unsigned int i = 0; i < parts; ++i) {
        switch (pick(8)) {
        case 0: {
            // A marker placed to straddle or just fit a 255-character piece.
            const unsigned int pad = 240 + pick(20);
            file += std::string(pad, 'a' + pick(26));
            file += pick(2) ? "Test Started --" : "Test Stopped --";
            if (pick(2))
                file += "\r\n";
            break;
        }
        case 1:
            file += std::string(pick(600), 'x');
            break;
        case 2: {
            const unsigned int count = pick(30);
            for (unsigned int j = 0; j < count; ++j)
                file += static_cast<char>(random());
            break;
        }
        case 3:
            file += '\0';
            break;
        case 4:
            if (pick(8) == 0)
                file += '\x1a';
            break;
        default: {
            const unsigned int which = pick(sizeof fragments / sizeof fragments[0]);
            if (which == 13)
                file += '\0';
            else
                file += fragments[which];
        }
        }
    }
    return file;
}

FuzzResult FuzzLogReader(unsigned int files, unsigned int seed, bool translateText)
{
    std::mt19937 random(seed);
    FuzzResult result;
    for (unsigned int i = 0; i < files; ++i) {
        const std::string bytes = GenerateLogFile(random);
        FILE* out = std::fopen(kLogFileName, "wb");
        if (!out)
            break;
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);

        unsigned int runs = 0, completed = 0;
        int succeeded = -1;
        // Guard bytes on both sides of the caller's 256-byte buffer.
        std::vector<char> buffer(256 + 64, '#');
        char* lastLine = buffer.data() + 32;
        ReadLogHistory(&runs, &completed, &succeeded, lastLine);
        ++result.files;

        const ModelHistory model = ModelReadHistory(bytes, translateText);
        bool guardsIntact = true;
        for (int g = 0; g < 32; ++g)
            guardsIntact = guardsIntact && buffer[g] == '#' && buffer[32 + 256 + g] == '#';
        const bool same = runs == model.runs && completed == model.completed
            && succeeded == model.succeeded && model.lastLine == lastLine && guardsIntact;
        if (!same) {
            if (result.mismatches == 0) {
                char text[200];
                std::snprintf(text, sizeof text,
                              "file %u (%zu bytes): got %u/%u/%d, model %u/%u/%d, last line %s%s",
                              i, bytes.size(), runs, completed, succeeded, model.runs,
                              model.completed, model.succeeded,
                              model.lastLine == lastLine ? "same" : "differs",
                              guardsIntact ? "" : ", buffer overrun");
                result.firstMismatch = text;
            }
            ++result.mismatches;
        }
    }
    std::remove(kLogFileName);
    return result;
}
