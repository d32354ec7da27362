#pragma once

// Settings of one run, as the dialog hands them to the engine.
// Numbers are unsigned 32-bit; flags are 0 (off) or nonzero (on).
struct TestConfig {
    unsigned int memoryTest;
    unsigned int vpuTest;
    unsigned int videoMemoryTest;
    unsigned int threadCount;
    unsigned int memorySizeMB;       // 0: all available physical memory
    unsigned int renderTargetWidth;
    unsigned int renderTargetHeight;
    unsigned int textureWidth;
    unsigned int textureHeight;
    unsigned int textureCount;
    unsigned int durationMs;
    unsigned int logIntervalMs;
    unsigned int logCpuLoad;
    unsigned int logCpuTemperature;
    unsigned int logVpuTemperature;
    unsigned int eachCore;           // one worker tests one core at a time ("Each core")
    unsigned int kernelMask;         // the kernel loads to rotate through (KernelLoadBit); 0: all
};

static_assert(sizeof(TestConfig) == 17 * 4, "TestConfig is 17 fields of 32 bits");
