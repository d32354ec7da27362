#pragma once

// Processor clock rate in hertz: time-stamp counter ticks over an interval timed
// with the performance counter. Returns 1 on success; 0 when the counter
// frequency is unavailable (frequencyHz is then left untouched).
int MeasureCpuFrequency(double* frequencyHz);
