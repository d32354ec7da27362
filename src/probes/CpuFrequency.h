#pragma once

// Clock rate in hertz of the core the caller runs on, as it runs now (under the
// test load: the loaded core's clock, boost and throttling included): a chain of
// dependent additions of known cycle count timed with the performance counter,
// the median of nine windows of a millisecond or less. Returns 1 on success; 0
// when the counter is unavailable or no window could be timed (frequencyHz is
// then left untouched).
int MeasureCpuFrequency(double* frequencyHz);
