#pragma once

// The ranges the dialog's number fields accept. The dialog's validation and
// the command line's options use them alike.
struct FieldRange {
    unsigned int min, max;
};

const FieldRange kHoursRange = { 0, 24 };
// With 0 hours a run needs at least one minute.
inline FieldRange MinutesRange(unsigned int hours)
{
    return { hours == 0 ? 1u : 0u, 59 };
}
const FieldRange kLogIntervalRange = { 1, 60 };
// The smallest memory block, in MB; the largest is what is available.
const unsigned int kMinMemoryMB = 16;

// The dialog's starting duration and interval.
const unsigned int kDefaultHours = 0;
const unsigned int kDefaultMinutes = 10;
const unsigned int kDefaultLogInterval = 10;
