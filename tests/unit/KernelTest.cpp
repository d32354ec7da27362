// The verified load: each vector variant against the fill, and a bit changed
// anywhere in an area found within one pass.
#include <gtest/gtest.h>

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "engine/AreaFill.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelServices.h"

namespace {

// One worker area at `misalign` bytes past a page, between two guard pages.
class Area {
public:
    explicit Area(unsigned int size, unsigned int misalign = 0)
        : size_(size), total_(size + 8192 + misalign),
          block_(static_cast<unsigned char*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)))
    {
        std::memset(block_, 0x5A, total_);
        base_ = block_ + 4096 + misalign;
    }
    ~Area() { VirtualFree(block_, 0, MEM_RELEASE); }
    unsigned char* base() const { return base_; }
    unsigned int n() const { return size_ / 32; }
    double* q(int quarter) const { return reinterpret_cast<double*>(base_ + quarter * (size_ / 4)); }
    unsigned long long& word(int quarter, unsigned int j) const { return reinterpret_cast<unsigned long long*>(q(quarter))[j]; }
    int Run(KernelPassFn pass, KernelState* state) const { return pass(q(0), q(1), q(2), q(3), n(), state); }
    std::vector<unsigned char> Bytes() const { return std::vector<unsigned char>(block_, block_ + total_); }

private:
    unsigned int size_, total_;
    unsigned char *block_, *base_;
};

class Kernel : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override
    {
        if (GetParam() > BestKernelVariant())
            GTEST_SKIP() << Impl().name << " is not supported by this processor and operating system; they offer "
                         << GetKernelImpl(BestKernelVariant()).name;
    }
    const KernelImpl& Impl() const { return GetKernelImpl(GetParam()); }
};

// The fill holds the scalar unit's two roundings; passes at any alignment, over an
// even or an odd number of 16-word blocks, agree with it and touch nothing else.
// Any bit of a quarter changed between two passes is found by the second, with its
// kind and exactly that bit; so is a bit that keeps its value across a refill (a
// cell stuck at it), after the complement of every input word and after a new
// pattern, whose results the next pass checks.
TEST_P(Kernel, FindsAnyBitChangedInTheAreaWithinOnePass)
{
    for (int quarter = 0; quarter < 4; ++quarter) {
        for (unsigned int bit = 0; bit < 64; ++bit) {
            SCOPED_TRACE(testing::Message() << "quarter " << quarter << ", bit " << bit);
            const unsigned int size = bit == 0 ? 1u << 20 : bit % 2 ? 8192 + 512 : 8192;
            Area area(size, 8 * (bit % 8));
            WorkerArea worker = {area.base(), size, nullptr, 0, 0, nullptr};
            KernelState state = {};
            state.inputSum = FillWorkerArea(area.base(), size, quarter * 64 + bit);
            state.inputKnown = 1;
            const std::vector<unsigned char> filled = area.Bytes();
            unsigned long long& word = area.word(quarter, (37 * bit + quarter) % area.n());
            const int kind = quarter == 3 ? kCheckWrongResult : kCheckChangedInput;
            for (unsigned int refill = 0; refill < 3; ++refill) {
                const unsigned long long before = word;
                if (refill)
                    RefillWorkerArea(&worker, refill, &state);
                if (refill == 1 && quarter < 3) {
                    ASSERT_EQ(~before, word);
                }
                for (unsigned int j = 0; j < area.n(); j += 97) {
                    const double product = area.q(0)[j] * area.q(1)[j];
                    ASSERT_EQ(product + area.q(2)[j], area.q(3)[j]);
                }
                // A cell stuck at its old bit, found by the first pass after the refill.
                if ((word ^ before) & (1ull << bit)) {
                    word ^= 1ull << bit;
                    EXPECT_EQ(kind, area.Run(Impl().pass, &state));
                    EXPECT_EQ(1ull << bit, state.bits);
                }
                for (int pass = 0; pass < 3; ++pass)
                    ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
                if (refill == 0) {
                    ASSERT_TRUE(filled == area.Bytes());
                }
                word ^= 1ull << bit;
                EXPECT_EQ(kind, area.Run(Impl().pass, &state));
                EXPECT_EQ(1ull << bit, state.bits);
                EXPECT_EQ(kCheckClean, area.Run(Impl().pass, &state));   // fresh results, inputs as now
            }
        }
    }
}

// Runs the loop while another thread calls `flip` each time the loop has made
// four more passes (and then a few pauses more, so that flips land anywhere in a
// pass), until the loop has returned or 50 flips are made; then ends the run, so
// that a loop that misses every flip still returns. The count it waits on may be
// read a pass or two late: with four passes between them, a flip cannot undo the
// one before until the loop has had a whole pass to see it. With a `budget`, the
// loop is called for that many passes at a time, and each call's flip comes
// while its last pass runs (the count one short of the limit).
struct Flipper {
    std::function<void()> flip;
    const KernelState* state;
    unsigned int budget;
    volatile LONG done;
    int flips;   // made
};

DWORD WINAPI FlipWhileLooping(LPVOID parameter)
{
    Flipper* flipper = static_cast<Flipper*>(parameter);
    const KernelState* state = flipper->state;
    unsigned int random = 12345;
    for (; flipper->flips < 50 && !flipper->done; ++flipper->flips) {
        unsigned long long passes = __atomic_load_n(&state->passes, __ATOMIC_RELAXED);
        if (flipper->budget) {
            while (!flipper->done && (passes = __atomic_load_n(&state->passes, __ATOMIC_RELAXED)) + 1 !=
                                         __atomic_load_n(&state->passLimit, __ATOMIC_RELAXED))
                YieldProcessor();
        } else {
            while (!flipper->done && __atomic_load_n(&state->passes, __ATOMIC_RELAXED) < passes + 4)
                YieldProcessor();
            random = random * 1103515245u + 12345u;
            for (unsigned int pause = random >> 26; pause != 0 && !flipper->done; --pause)
                YieldProcessor();
        }
        if (flipper->done)
            break;
        flipper->flip();
        while (flipper->budget && !flipper->done && __atomic_load_n(&state->passes, __ATOMIC_RELAXED) == passes)
            YieldProcessor();
    }
    InterlockedExchange(&testRunning, 0);
    return 0;
}

// The loop must end on its own within a pass or two of a flip it can see, after
// at most `flipsAllowed` flips, not when the flipper has made all its flips and
// ends the run.
int LoopWhileFlipping(const KernelImpl& impl, Area& area, KernelState* state, std::function<void()> flip,
                      int flipsAllowed = 3, unsigned int budget = 0)
{
    Flipper flipper = {flip, state, budget, 0, 0};
    InterlockedExchange(&testRunning, 1);
    const HANDLE thread = CreateThread(nullptr, 0, FlipWhileLooping, &flipper, 0, nullptr);
    if (!thread) {
        ADD_FAILURE() << "no flipper thread";
        return -1;
    }
    int check = kCheckClean;
    do {
        if (budget)
            __atomic_store_n(&state->passLimit, state->passes + budget, __ATOMIC_RELAXED);
        check = impl.loop(area.q(0), area.q(1), area.q(2), area.q(3), area.n(), state);
    } while (budget && check == kCheckClean && testRunning != 0);
    InterlockedExchange(&flipper.done, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    InterlockedExchange(&testRunning, 0);
    EXPECT_LE(flipper.flips, flipsAllowed) << "the loop went on past flips it could see";
    return check;
}

// The loop checks its later passes lane by lane: a bit flipped in an input or a
// result while it runs ends it, within a pass or two, with that kind and exactly
// that bit, in every vector of every quarter, both in an 8192-byte area (whose
// passes may be written out whole) and in an odd number of 16-word blocks.
TEST_P(Kernel, LoopFindsABitChangedWhileItRuns)
{
    for (unsigned int size : {8192u, 8192u + 512u}) {
        Area area(size);
        KernelState state = {};
        FillWorkerArea(area.base(), size, 5);
        ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
        for (int quarter = 0; quarter < 4; ++quarter) {
            // A word of every four: of every vector of four or more words, and of every
            // two-word vector of a 16-word step at some block; the lane turns with each.
            for (unsigned int j = 0; j < area.n(); j += 4) {
                const unsigned int word = j + (j / 4 + j / 64) % 4, bit = (7 * j + quarter) % 64;
                SCOPED_TRACE(testing::Message() << size << " bytes, quarter " << quarter << ", word " << word
                                                << ", bit " << bit);
                volatile LONG* half = reinterpret_cast<volatile LONG*>(&area.word(quarter, word)) + bit / 32;
                const LONG mask = static_cast<LONG>(1u << (bit % 32));
                // A result's flip that lands between the pass's read of the word and its
                // store is undone by the store: such flips go unseen, about every third.
                const int check = LoopWhileFlipping(Impl(), area, &state, [half, mask] { InterlockedXor(half, mask); },
                                                    quarter == 3 ? 40 : 3);
                ASSERT_EQ(quarter == 3 ? kCheckWrongResult : kCheckChangedInput, check);
                ASSERT_EQ(1ull << bit, state.bits);
                // The area as it is now is the next case's starting point.
                ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
            }
        }
    }
}

// The loop stores its count after every pass and stops at the limit, across the
// count's 32-bit halves (32-bit code stores the two halves as one 64-bit word),
// in a written-out whole pass and in the loop of blocks.
TEST_P(Kernel, LoopCountsItsPassesUpToTheLimitAcrossTheCountsHalves)
{
    for (unsigned int size : {8192u, 8192u + 512u}) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        Area area(size);
        KernelState state = {};
        FillWorkerArea(area.base(), size, 3);
        ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
        state.passes = 0xFFFFFFFEull;
        state.passLimit = 0x100000003ull;
        InterlockedExchange(&testRunning, 1);
        const int check = Impl().loop(area.q(0), area.q(1), area.q(2), area.q(3), area.n(), &state);
        InterlockedExchange(&testRunning, 0);
        EXPECT_EQ(kCheckClean, check);
        EXPECT_EQ(0x100000003ull, __atomic_load_n(&state.passes, __ATOMIC_RELAXED));
    }
}

// A loop called for two passes at a time (its first and one later pass, as a
// large area's share of a worker's time may be) still checks the pass that
// reaches the limit: a result changed while that pass runs, before the pass
// reads it (the quarter's last word, read at its end), is found then, not lost
// when the pass stores the fresh result over it.
TEST_P(Kernel, LoopChecksThePassThatReachesTheLimit)
{
    const unsigned int kSize = 1u << 20;   // a pass of some microseconds
    Area area(kSize);
    KernelState state = {};
    FillWorkerArea(area.base(), kSize, 9);
    ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
    volatile LONG* high = reinterpret_cast<volatile LONG*>(&area.word(3, area.n() - 1)) + 1;
    // A flip that lands between the pass's read of the word and its store is undone.
    const int check = LoopWhileFlipping(Impl(), area, &state, [high] { InterlockedXor(high, 0x2000); }, 3, 2);
    EXPECT_EQ(kCheckWrongResult, check);
    EXPECT_EQ(0x2000ull << 32, state.bits);
}

// Whether flipping the lowest bit of c[j] leaves the result a*b + c as it is
// (the change rounds away): only the inputs' sum can then tell.
bool RoundsAway(const Area& area, unsigned int j)
{
    double c = area.q(2)[j];
    unsigned long long bits;
    std::memcpy(&bits, &c, 8);
    bits ^= 1;
    std::memcpy(&c, &bits, 8);
    const double product = area.q(0)[j] * area.q(1)[j];
    return product + c == area.q(3)[j];
}

// An input changed before an area's first pass, by a bit that rounds away in
// its result, is found against the fill's XOR by the pass and by the loop.
TEST_P(Kernel, FirstPassChecksTheInputsAgainstTheFill)
{
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "loop" : "pass");
        Area area(8192);
        KernelState state = {};
        state.inputSum = FillWorkerArea(area.base(), 8192, 11);
        state.inputKnown = 1;
        state.passLimit = 1;
        unsigned int j = 0;
        while (!RoundsAway(area, j))
            ++j;
        area.word(2, j) ^= 1;
        InterlockedExchange(&testRunning, 1);
        const int check = loop ? Impl().loop(area.q(0), area.q(1), area.q(2), area.q(3), area.n(), &state)
                               : area.Run(Impl().pass, &state);
        InterlockedExchange(&testRunning, 0);
        EXPECT_EQ(kCheckChangedInput, check);
        EXPECT_EQ(1ull, state.bits);
    }
}

// The same bit changed in two lanes between two of a loop's passes (results
// unchanged) is an input that changed: the lanes are not folded, where the two
// changes would cancel.
TEST_P(Kernel, LoopFindsTheSameBitChangedInTwoLanes)
{
    Area area(8192);
    KernelState state = {};
    state.inputSum = FillWorkerArea(area.base(), 8192, 5);
    state.inputKnown = 1;
    unsigned int j = 0;
    while (!RoundsAway(area, j) || !RoundsAway(area, j + 1))
        j += 2;
    // The lowest bit of both words (lanes 0 and 1 of a vector) in one 16-byte store.
    __m128i* pair = reinterpret_cast<__m128i*>(&area.word(2, j));
    const int check = LoopWhileFlipping(Impl(), area, &state, [pair] {
        _mm_store_si128(pair, _mm_xor_si128(_mm_load_si128(pair), _mm_set1_epi64x(1)));
    });
    EXPECT_EQ(kCheckChangedInput, check);
    EXPECT_EQ(1ull, state.bits);
}

// A worker's run cut into parts that each end after one area still checks every
// area in turn: a bit changed in the last of 32 areas is found within one round.
TEST(WorkerRun, ChecksEveryAreaHoweverItIsCutIntoParts)
{
    const unsigned int kAreas = 32, kSize = 8192;
    Area block(kAreas * kSize);
    std::vector<WorkerArea> areas(kAreas);
    for (unsigned int k = 0; k < kAreas; ++k) {
        unsigned char* base = block.base() + k * kSize;
        areas[k] = WorkerArea{base, kSize, k + 1 < kAreas ? &areas[k + 1] : nullptr, 0, FillWorkerArea(base, kSize, k), nullptr};
    }
    std::unique_ptr<WorkerRun> run(new WorkerRun);
    InterlockedExchange(&testRunning, 1);
    BeginWorkerRun(run.get(), &areas[0]);
    const volatile LONG running = 1;
    // A part whose time is up at once: it ends after its first area.
    auto part = [&] { return ContinueWorkerRun(run.get(), GetKernelImpl(kKernelSse2).loop, WorkerRunLimits{&running, 1, true}); };
    for (unsigned int k = 0; k < kAreas; ++k)
        ASSERT_EQ(kCheckClean, part()) << k;
    areas[kAreas - 1].base[kSize / 4 + 8 * 9 + 6] ^= 0x10;
    int check = kCheckClean;
    for (unsigned int k = 0; k < kAreas && check == kCheckClean; ++k)
        check = part();
    InterlockedExchange(&testRunning, 0);
    EXPECT_EQ(kCheckChangedInput, check);
    EXPECT_EQ(0x10ull << 48, run->runs[kAreas - 1].state.bits);
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
}

// RunWorkerArea on a scripted clock in microseconds: each pass takes passUs; a
// refill, seen as a new value of the area's first input word at the next reading,
// takes refillUs.
struct ScriptedRun {
    long long now, passUs, refillUs, endUs;
    const unsigned long long* watched;
    unsigned long long seen;
    std::vector<long long> refills;   // clock when each began
} g_run;

BOOL WINAPI ScriptedFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = 1000000;
    return TRUE;
}

BOOL WINAPI ScriptedCounter(LARGE_INTEGER* count)
{
    if (*g_run.watched != g_run.seen) {
        g_run.seen = *g_run.watched;
        g_run.refills.push_back(g_run.now);
        g_run.now += g_run.refillUs;
    }
    count->QuadPart = g_run.now;
    return TRUE;
}

int ScriptedLoop(const double*, const double*, const double*, double*, size_t, KernelState* state)
{
    g_run.now += static_cast<long long>(state->passLimit - state->passes) * g_run.passUs;
    state->passes = state->passLimit;
    if (g_run.now >= g_run.endUs)
        InterlockedExchange(&testRunning, 0);
    return kCheckClean;
}

// An area is refilled once its own passes since its last refill have taken 20
// times as long as that refill, and 800 ms have passed: refills take a twenty-first
// of the time at most. The clock is read about every 50 ms of passes, so each
// refill comes at most that much late.
TEST(AreaRefill, ComesAfterItsPassesTookTwentyTimesItsTimeAnd800ms)
{
    const struct {
        long long refillUs, gapUs;   // passes' time from the end of one refill to the next
    } cases[] = {{100000, 2000000}, {1000, 800000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "refill " << c.refillUs << " us");
        Area area(8192);
        FillWorkerArea(area.base(), 8192, 3);
        WorkerArea worker = {area.base(), 8192, nullptr, 0, 0, nullptr};
        g_run = ScriptedRun{0, 10000, c.refillUs, 30000000, &area.word(0, 0), area.word(0, 0), {}};
        g_kernel.QueryPerformanceFrequency = ScriptedFrequency;
        g_kernel.QueryPerformanceCounter = ScriptedCounter;
        InterlockedExchange(&testRunning, 1);
        RunWorkerArea(&worker, ScriptedLoop);
        g_kernel = RealKernelServices();
        ASSERT_GE(g_run.refills.size(), 10u);
        EXPECT_GE(g_run.refills[0], 800000);
        EXPECT_LE(g_run.refills[0], 850000);
        for (size_t i = 1; i < g_run.refills.size(); ++i) {
            const long long passesUs = g_run.refills[i] - g_run.refills[i - 1] - c.refillUs;
            EXPECT_GE(passesUs, c.gapUs) << "refill " << i;
            EXPECT_LE(passesUs, c.gapUs + 50000) << "refill " << i;
        }
    }
}

// New patterns from refills rotate through the three value ranges (b's sign and
// exponent show which) with new mantissas each time; and a fill made in parts, as
// the start's fill threads make it, is the whole fill, its XOR included.
TEST(AreaFill, NewPatternsRotateThroughTheRangesAndPartsMakeTheWholeFill)
{
    const unsigned int size = 4 * 32 * kFillChunk;   // four chunks per quarter
    Area area(size), parts(size);
    WorkerArea worker = {area.base(), size, nullptr, 0, 0, nullptr};
    KernelState state = {};
    std::vector<unsigned long long> heads, firstB;
    for (unsigned int refill = 2; refill <= 12; refill += 2) {
        RefillWorkerArea(&worker, refill, &state);
        heads.push_back(area.word(1, 5) >> 52);
        firstB.push_back(area.word(1, 0));
        EXPECT_EQ(FillWorkerAreaPart(parts.base(), size, 7, 0, kFillChunk) ^
                      FillWorkerAreaPart(parts.base(), size, 7, kFillChunk, 3 * kFillChunk) ^
                      FillWorkerAreaPart(parts.base(), size, 7, 3 * kFillChunk, 4 * kFillChunk),
                  FillWorkerArea(area.base(), size, 7));
        EXPECT_TRUE(area.Bytes() == parts.Bytes());
    }
    for (size_t i = 0; i + 3 <= heads.size(); ++i) {
        std::vector<unsigned long long> three(heads.begin() + i, heads.begin() + i + 3);
        std::sort(three.begin(), three.end());
        EXPECT_TRUE(std::unique(three.begin(), three.end()) == three.end()) << "three new patterns in a row share a range";
    }
    std::sort(firstB.begin(), firstB.end());
    EXPECT_TRUE(std::unique(firstB.begin(), firstB.end()) == firstB.end()) << "a new pattern repeats";
}

INSTANTIATE_TEST_SUITE_P(Variants, Kernel, ::testing::Values(kKernelSse2, kKernelAvx, kKernelAvx512),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(info.param == kKernelSse2 ? "Sse2" : info.param == kKernelAvx ? "Avx" : "Avx512");
                         });

} // namespace
