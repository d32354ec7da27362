#include "engine/TurnTimeline.h"

#include <algorithm>

unsigned int TurnEndMs(unsigned int durationMs, unsigned int turns, unsigned int turn)
{
    return static_cast<unsigned int>(static_cast<unsigned long long>(durationMs) * (turn + 1) / turns);
}

TurnTimeline::TurnTimeline(long long loadFrom, long long end, long long perSecond)
    : loadFrom_(loadFrom), end_(end), wideFrom_(loadFrom + (end > loadFrom ? (end - loadFrom) / 2 : 0)),
      load_(perSecond * kTurnLoadMs / 1000), pause_(perSecond * kTurnPauseMs / 1000),
      clock_(perSecond * kTurnClockMs / 1000), nextClock_(loadFrom + clock_ / 4)
{
    if (load_ < 1)
        load_ = 1;
}

TurnStep TurnTimeline::Next(long long now)
{
    if (now >= end_)
        return TurnStep{kStepOver, end_};
    const long long period = load_ + pause_;
    const long long since = now > loadFrom_ ? now - loadFrom_ : 0;
    const long long cycle = loadFrom_ + since / period * period;
    const long long pauseFrom = cycle + load_;
    if (now >= pauseFrom) {
        nextClock_ = std::max(nextClock_, cycle + period + clock_ / 4);
        return TurnStep{kStepPause, std::min(cycle + period, end_)};
    }
    if (now >= nextClock_)
        return TurnStep{kStepClock, now};
    const bool narrow = now < wideFrom_;
    long long until = std::min(std::min(pauseFrom, nextClock_), end_);
    if (narrow)
        until = std::min(until, wideFrom_);
    return TurnStep{narrow ? kStepNarrow : kStepWide, until};
}

void TurnTimeline::ClockTaken(long long now)
{
    nextClock_ = now + clock_;
}
