#pragma once

// Time-stamp counter ticks per second, timed with the performance counter over ~100 ms.
double StampRate();
