#pragma once
#include <cstddef>

// Resource counts of the current process, for leak checks.
struct ProcessCounters {
    unsigned long handles;
    unsigned long threads;
    size_t committedBytes;   // private committed memory
};

ProcessCounters ReadProcessCounters();
