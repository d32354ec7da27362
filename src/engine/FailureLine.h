#pragma once

struct WorkerFailure;

// Failure lines fit the log's 77-character message limit: leading zeros of the
// bits go first, then a shorter form, and in the last resort the line without the bits.
const unsigned int kFailureLineLength = 77;

// The run's end when a worker found an error: "Test Failed -- <kind> in <load>,
// worker W of T on CPU C, bits B[ and N more]", or the short form "Test Failed --
// <load>, <kind>, worker W, CPU C, bits B[, N more]"; `failedWorkers` counts the first.
void FormatFailureLine(char* line, const WorkerFailure& failure, unsigned int worker, unsigned int threads,
                       long failedWorkers);

// An "Each core" turn's failure: "Core K of N, CPU C: <kind> in <load>, worker 1, bits B".
void FormatCoreFailureLine(char* line, const WorkerFailure& failure, unsigned int core, unsigned int cores);
