#pragma once

// What a run tests, as written right after "Test Started --".
struct TestedScope {
    unsigned int workers;
    unsigned int tiedWorkers;          // the others float
    unsigned int processors, cores;    // distinct ones the tied workers are on
    unsigned int machineProcessors, machineCores;
    int narrowLimited;                 // a 32-bit program reaches only 32 processors
    const char* kernel;                // the kernel variant's name
    int memoryTest;
    unsigned long long testedMB, availableMB;
    int eachCore;                      // one core at a time, on one processor of each
    unsigned int kernels;              // the kernel loads the run rotates through (KernelLoadBit)
};

const unsigned int kTestedScopeLineLength = 77;   // the log's message limit

// Formats the line into `line` (kTestedScopeLineLength + 1 characters), e.g.
// "Testing 32 workers on 32 of 32 processors (16 of 16 cores), AVX-512, 28412 of 30120 MB";
// a shorter form where that would not fit. Each core in turn:
// "Testing each core in turn: 8 of 8 cores (8 of 16 processors), SSE2 then AVX-512".
void FormatTestedScopeLine(char* line, const TestedScope& scope);
