#pragma once

// The kernel loads a run rotates through: the stream over the worker's memory,
// the unit classes (KernelClasses.h) and the stream over cache-sized areas.
enum KernelLoad {
    kLoadStream = 0,    // a*b + c over the worker's areas: the floating-point unit, and memory with System Memory
    kLoadFma = 1,       // register-resident fused multiply-add chains
    kLoadInteger = 2,   // 64-bit multiply, add, shifts, rotates, bit counts, division
    kLoadVector = 3,    // packed integer multiply and add, byte shuffles, cross-lane permutes
    kLoadCrypto = 4,    // AES rounds, carry-less multiply, CRC32, SHA-256 rounds
    kLoadCache = 5,     // the stream over areas sized to the L2 and to the worker's share of the L3
    kLoadCount = 6
};

inline unsigned int KernelLoadBit(unsigned int load)
{
    return 1u << load;
}
const unsigned int kAllLoads = (1u << kLoadCount) - 1;

// "stream", "fma", "integer", "vector", "crypto", "cache".
const char* KernelLoadName(unsigned int load);

// The loads this processor and operating system can run (a class none of whose
// variants is supported is left out), as KernelLoadBit bits.
unsigned int AvailableKernelLoads();

// The loads a run's mask asks for that run here: mask 0 asks for all.
inline unsigned int RunnableKernelLoads(unsigned int mask)
{
    return (mask ? mask : kAllLoads) & AvailableKernelLoads();
}

// The loads' names joined by commas, in KernelLoad order ("fma,integer").
void FormatKernelLoads(char* text, unsigned int size, unsigned int loads);
