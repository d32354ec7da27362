// A turn's timeline on a scripted clock: what its worker does from one moment to
// the next, however its load is cut into parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/TurnTimeline.h"

namespace {

// Walks a turn from loadFrom to its end on a clock of 1000 counts a second, as
// the worker does: its loads end at a part's end or earlier (every 7th part is
// cut short), a clock reading takes 5 counts.
struct Walk {
    long long narrow = 0, wide = 0, firstWide = -1;
    std::vector<long long> pauses, pauseEnds, readings;
    long long over = -1;
};

Walk WalkTurn(long long loadFrom, long long end)
{
    TurnTimeline timeline(loadFrom, end, 1000);
    Walk walk;
    long long now = loadFrom;
    for (int step = 0; step < 100000 && walk.over < 0; ++step) {
        const TurnStep next = timeline.Next(now);
        EXPECT_GE(next.until, now);
        switch (next.kind) {
        case kStepOver:
            walk.over = now;
            break;
        case kStepClock:
            walk.readings.push_back(now);
            now += 5;
            timeline.ClockTaken(now);
            break;
        case kStepPause:
            walk.pauses.push_back(now);
            walk.pauseEnds.push_back(next.until);
            now = next.until;
            break;
        default: {
            const long long until = step % 7 ? next.until : now + (next.until - now) / 3 + 1;
            if (next.kind == kStepWide && walk.firstWide < 0)
                walk.firstWide = now;
            (next.kind == kStepNarrow ? walk.narrow : walk.wide) += until - now;
            now = until;
        }
        }
    }
    return walk;
}

// SSE2 over the first half of the load and the widest kernel over the second,
// also when the turn's fill took part of it; a one-second pause after every ten
// seconds of load; a clock reading every second under load, the first a quarter
// second after the load begins or comes back, none in a pause; over at its end.
TEST(TurnTimeline, BothHalvesRunAndTheLoadPausesAndIsClockedOnTime)
{
    for (long long loadFrom : {0LL, 7000LL}) {
        SCOPED_TRACE(loadFrom);
        const long long end = 60000, half = (end - loadFrom) / 2;
        const Walk walk = WalkTurn(loadFrom, end);
        EXPECT_EQ(end, walk.over);
        EXPECT_EQ(loadFrom + half, walk.firstWide);
        // Readings take their 5 counts from the load's half they fall in.
        EXPECT_NEAR(static_cast<double>(walk.narrow), static_cast<double>(walk.wide), 1000.0);
        ASSERT_FALSE(walk.pauses.empty());
        for (size_t i = 0; i < walk.pauses.size(); ++i) {
            EXPECT_EQ(loadFrom + 10000 + 11000 * static_cast<long long>(i), walk.pauses[i]) << i;
            EXPECT_EQ(std::min(walk.pauses[i] + 1000, end), walk.pauseEnds[i]) << i;
        }
        ASSERT_FALSE(walk.readings.empty());
        EXPECT_EQ(loadFrom + 250, walk.readings[0]);
        for (size_t i = 1; i < walk.readings.size(); ++i) {
            const long long before = walk.readings[i - 1], r = walk.readings[i];
            long long expected = before + 5 + 1000;   // a second after the last reading ended
            for (size_t p = 0; p < walk.pauses.size(); ++p) {
                EXPECT_FALSE(r >= walk.pauses[p] && r < walk.pauseEnds[p]) << "a reading in a pause at " << r;
                if (before < walk.pauses[p] && r > walk.pauses[p])
                    expected = walk.pauseEnds[p] + 250;   // a quarter second after the load came back
            }
            EXPECT_EQ(expected, r) << i;
        }
    }
}

// The turns share the duration: each ends at its share, the last at the duration.
TEST(TurnTimeline, TurnsShareTheDurationEqually)
{
    EXPECT_EQ(60000u, TurnEndMs(480007, 8, 0));
    EXPECT_EQ(240003u, TurnEndMs(480007, 8, 3));
    EXPECT_EQ(480007u, TurnEndMs(480007, 8, 7));
    EXPECT_EQ(4294967295u, TurnEndMs(4294967295u, 3, 2));
}

} // namespace
