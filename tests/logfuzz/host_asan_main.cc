// Host build of the log reader fuzz under AddressSanitizer (no text-mode translation on Linux).
#include <cstdio>
#include <cstdlib>

#include "logfuzz/LogReaderModel.h"

int main(int argc, char** argv)
{
    const unsigned int files = argc > 1 ? static_cast<unsigned int>(std::atoi(argv[1])) : 20000;
    const FuzzResult result = FuzzLogReader(files, 7, false);
    std::printf("log reader fuzz (host, AddressSanitizer): %u files, %u mismatches\n", result.files,
                result.mismatches);
    if (result.mismatches)
        std::printf("first: %s\n", result.firstMismatch.c_str());
    return result.files == files && result.mismatches == 0 ? 0 : 1;
}
