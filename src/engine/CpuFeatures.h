#pragma once
// The instruction sets the processor runs and the operating system saves the
// registers of, from CPUID and XGETBV.

// What the processor and the operating system offer, as bits.
enum CpuFeature : unsigned int {
    kCpuSsse3 = 1u << 0,
    kCpuSse41 = 1u << 1,
    kCpuSse42 = 1u << 2,
    kCpuPopcnt = 1u << 3,
    kCpuAes = 1u << 4,
    kCpuPclmul = 1u << 5,
    kCpuAvx = 1u << 6,      // with the YMM state saved by the operating system
    kCpuAvx2 = 1u << 7,
    kCpuFma = 1u << 8,
    kCpuBmi1 = 1u << 9,
    kCpuBmi2 = 1u << 10,
    kCpuLzcnt = 1u << 11,
    kCpuSha = 1u << 12,
    kCpuAvx512f = 1u << 13,   // with the opmask and ZMM state saved
    kCpuAvx512bw = 1u << 14,
};

// The CPUID and XGETBV words the features are decoded from.
struct CpuidWords {
    unsigned int maxLeaf;
    unsigned int leaf1Ecx;
    unsigned int leaf7Ebx;
    unsigned int maxExtLeaf;
    unsigned int ext1Ecx;       // leaf 0x80000001, ECX (LZCNT)
    unsigned long long xcr0;    // 0 without OSXSAVE
};

CpuidWords ReadCpuidWords();
unsigned int DecodeCpuFeatures(const CpuidWords& words);
// DecodeCpuFeatures(ReadCpuidWords()), read once.
unsigned int CpuFeatures();
