#include "LogReaderModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "log/LogHistory.h"

ModelHistory ModelReadHistory(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != '\0' && !(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    ModelHistory model;
    long long position = 0, lastStart = -1, lastStop = -1;
    for (size_t at = 0, length; at < text.size(); at += length, ++position) {
        const size_t lineFeed = text.find('\n', at);
        length = std::min<size_t>(lineFeed == std::string::npos ? text.size() - at : lineFeed - at + 1, 255);
        const std::string piece = text.substr(at, length);
        if (piece.find("Test Started --") != std::string::npos) {
            ++model.runs;
            lastStart = position;
        }
        if (piece.find("Test Stopped --") != std::string::npos) {
            ++model.completed;
            lastStop = position;
        }
        model.lastLine = piece;
    }
    model.succeeded = lastStop > lastStart;
    return model;
}

std::string FuzzLogReader(unsigned int files, unsigned int seed)
{
    std::mt19937 random(seed);
    const std::string pieces[] = {"12/05/2026, 21:47:05, Test Started --\r\n", "12/05/2026, 21:47:31, Test Stopped --\r\n",
                                  "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n", "Test Sta", "rted --",
                                  "Test Stop", "ped --", "\r\n", "\n", "\r", std::string(1, '\0'), "\x1a", "%s%n",
                                  std::string(300, '\0')};
    for (unsigned int file = 0; file < files; ++file) {
        std::string bytes;
        for (unsigned int part = random() % 40; part > 0; --part) {
            const unsigned int kind = random() % 17;
            if (kind < 14)
                bytes += pieces[kind];
            else if (kind == 14)   // a marker that straddles or just fits a piece
                bytes += std::string(240 + random() % 20, 'a') + (random() % 2 ? "Test Started --" : "Test Stopped --");
            else if (kind == 15)
                bytes += std::string(random() % 600, 'x');
            else
                for (unsigned int n = random() % 30; n > 0; --n)
                    bytes += static_cast<char>(random());
        }
        if (FILE* out = std::fopen(kLogFileName, "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        unsigned int runs = 0, completed = 0;
        int succeeded = -1;
        std::vector<char> buffer(256 + 64, '#');
        ReadLogHistory(&runs, &completed, &succeeded, &buffer[32]);
        const ModelHistory model = ModelReadHistory(bytes);
        const bool guarded = std::string(&buffer[0], 32) == std::string(32, '#') &&
                             std::string(&buffer[288], 32) == std::string(32, '#');
        if (runs != model.runs || completed != model.completed || succeeded != model.succeeded ||
            model.lastLine != &buffer[32] || !guarded)
            return "file " + std::to_string(file) + " (" + std::to_string(bytes.size()) + " bytes) read differently" +
                   (guarded ? "" : ", past its buffer");
    }
    std::remove(kLogFileName);
    return "";
}

#ifdef HOST_FUZZ_MAIN
// The host build, under AddressSanitizer and UBSan.
int main(int argc, char** argv)
{
    const std::string mismatch = FuzzLogReader(argc > 1 ? std::atoi(argv[1]) : 20000, 7);
    std::printf("log reader fuzz on the host: %s\n", mismatch.empty() ? "no mismatch" : mismatch.c_str());
    return !mismatch.empty();
}
#endif
