#pragma once

// The timeline of an "Each core" run, as pure arithmetic on a clock the caller
// reads: when each core's turn ends, and what the turn's worker does from one
// moment to the next.

// Turn `turn` (0-based) of `turns` ends this many ms after the run's start: the
// run's duration shared equally, so that the run keeps its duration whatever
// happens in a turn.
unsigned int TurnEndMs(unsigned int durationMs, unsigned int turns, unsigned int turn);

// What a turn's worker does now, and until which count at most.
enum TurnStepKind {
    kStepNarrow,   // the SSE2 kernel
    kStepWide,     // the widest kernel the processor has
    kStepPause,    // idle: the core's load stops, then comes back at once
    kStepClock,    // measure the core's clock (under load)
    kStepOver,     // the turn has ended
};
struct TurnStep {
    TurnStepKind kind;
    long long until;
};

// One turn's load on the counter's clock, from `loadFrom` (once its memory is
// filled) to `end`: SSE2 over the first half of that time and the widest kernel
// over the second, so both halves run whatever the fill took; after every
// kTurnLoadMs of load kTurnPauseMs idle; a clock reading every kTurnClockMs under
// load, the first a quarter of that after the load begins or comes back.
const unsigned int kTurnLoadMs = 10000;
const unsigned int kTurnPauseMs = 1000;
const unsigned int kTurnClockMs = 1000;

class TurnTimeline {
public:
    TurnTimeline(long long loadFrom, long long end, long long perSecond);

    TurnStep Next(long long now);
    // A clock reading ended at `now`.
    void ClockTaken(long long now);
    long long WideFrom() const { return wideFrom_; }

private:
    long long loadFrom_, end_, wideFrom_;
    long long load_, pause_, clock_;   // in counts
    long long nextClock_;
};
