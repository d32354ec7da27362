#pragma once

// Readings of the previous successful load measurement, 100 ns units.
// A previous idle time of 0.0 means no reading has been taken yet.
extern double previousIdleTime;
extern double previousSystemTime;

// Processor load in percent, averaged over all processors since the previous
// successful reading. Returns 1 on success, 0 on failure (load is then 0).
int MeasureCpuLoad(double* load);
