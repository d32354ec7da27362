// The worker kernel's verified pass and loop, written once over a vector type V.
// Each variant's file includes this inside its own target options and an anonymous
// namespace, after engine/TestEngine.h and engine/WorkerKernel.h; it includes nothing.
//
// V supplies: Reg (doubles), Sum (bit sums), kLanes (doubles per Reg, dividing 8),
// kSets (sets of sums the vectors of a pass take in turn in 64-bit code), kSets32 (input
// sums in turn in 32-bit code), Load, LoadOperand, Store, Mul, Add, Zero (a Sum),
// Xor3 (s ^ p ^ q), OrXor (s | (p ^ q)), Merge (two sums of one kind), AnyBit and
// Fold (the lanes' XOR, or OR, as 64 bits). A variant that specializes Sweep
// (written out in assembly) needs only Zero, Merge, AnyBit and Fold.
// Load keeps what it loads in a register (an empty asm statement does it): the
// compiler would otherwise load an input again as an operand of each instruction
// that uses it. LoadOperand loads a value used once (the old result), which the
// compiler may then take as the operand of its comparison: one instruction fewer.

#define KERNEL_ALWAYS_INLINE inline __attribute__((always_inline))

// One vector of a pass: the result stored and checked, a and b added to the
// inputs' sum. Returns c, which the caller adds with the next vector's.
template <class V>
KERNEL_ALWAYS_INLINE typename V::Reg Step(const double* a, const double* b, const double* c,
                                          double* d, typename V::Sum& inputs,
                                          typename V::Sum& differences)
{
    typedef typename V::Reg Reg;
    const Reg x = V::Load(a);
    const Reg y = V::Load(b);
    const Reg z = V::Load(c);
    inputs = V::Xor3(inputs, x, y);   // first: the product may take x's register
    const Reg result = V::Add(V::Mul(x, y), z);
    differences = V::OrXor(differences, V::LoadOperand(d), result);
    V::Store(d, result);
    return z;
}

// The sums of one pass, lane by lane: the XOR of every input word it read and the
// OR of expected XOR found over every result. Every d[j] is read before it is
// written and must equal the result it is about to be replaced with; the XOR of
// every input word must match the pass before (a change of an input does not
// always show in its result).
template <class V>
KERNEL_ALWAYS_INLINE void Sweep(const double* a, const double* b, const double* c, double* d,
                                size_t n, typename V::Sum& inputSum, typename V::Sum& wrong)
{
#if defined(__x86_64__)
    const int kSets = V::kSets;   // sums for vectors in turn: shorter dependency chains
    const int kSetsD = kSets;
#else
    // Eight vector registers: one sum of each kind, or the variant's input sums
    // in turn (each takes two operations a vector), where no sum is then spilled.
    const int kSets = V::kSets32;
    const int kSetsD = 1;
#endif
    typedef typename V::Sum Sum;
    const int kSetsC = kSetsD < 2 ? kSetsD : 2;   // c's sums take a pair of vectors each
    Sum inputs[kSets], differences[kSetsD], inputsC[kSetsC];
    for (int s = 0; s < kSets; ++s)
        inputs[s] = differences[s % kSetsD] = inputsC[s % kSetsC] = V::Zero();
    // A pointer-sized index: addresses need no widening in the loop.
    const size_t w = V::kLanes;
    for (size_t j = 0; j < n; j += 16) {
#pragma GCC unroll 8
        for (size_t k = 0; k < 16; k += 2 * w) {
            const size_t pair = k / (2 * w), s0 = (2 * pair) % kSets, s1 = (2 * pair + 1) % kSets;
            const double *ak = a + j + k, *bk = b + j + k, *ck = c + j + k;
            double* dk = d + j + k;
            const typename V::Reg z0 = Step<V>(ak, bk, ck, dk, inputs[s0], differences[s0 % kSetsD]);
            const typename V::Reg z1 =
                Step<V>(ak + w, bk + w, ck + w, dk + w, inputs[s1], differences[s1 % kSetsD]);
            inputsC[pair % kSetsC] = V::Xor3(inputsC[pair % kSetsC], z0, z1);
        }
    }

    for (int s = 1; s < kSets; ++s)
        inputs[0] = V::Merge(inputs[0], inputs[s], false);
    for (int s = 1; s < kSetsD; ++s)
        differences[0] = V::Merge(differences[0], differences[s], true);
    for (int s = 1; s < kSetsC; ++s)
        inputsC[0] = V::Merge(inputsC[0], inputsC[s], false);
    inputSum = V::Merge(inputs[0], inputsC[0], false);
    wrong = differences[0];
}

// What a pass with these sums found, against the input sum in state (when a
// pass came before, or a fill's sum is known).
template <class V>
KERNEL_ALWAYS_INLINE int Check(typename V::Sum inputs, typename V::Sum wrong, KernelState* state)
{
    const unsigned long long inputSum = V::Fold(inputs, false);
    const bool compare = state->passes != 0 || state->inputKnown != 0;
    const unsigned long long changedBits = compare ? inputSum ^ state->inputSum : 0;
    state->inputSum = inputSum;
    state->inputKnown = 1;
    ++state->passes;
    if (changedBits) {
        state->bits = changedBits;
        return kCheckChangedInput;
    }
    if (V::AnyBit(wrong)) {
        state->bits = V::Fold(wrong, true);
        return kCheckWrongResult;
    }
    return kCheckClean;
}

// A later pass of a loop, against the pass before's sums lane by lane: a lane's
// change is an input that changed, whatever the other lanes did (folded, the
// same bit changed in two lanes would cancel). bits ORs the lanes' changes.
template <class V>
KERNEL_ALWAYS_INLINE int CheckLanes(typename V::Sum inputs, typename V::Sum last, typename V::Sum wrong,
                                    KernelState* state)
{
    const typename V::Sum changed = V::Merge(inputs, last, false);
    state->inputSum = V::Fold(inputs, false);
    ++state->passes;
    if (V::AnyBit(changed)) {
        state->bits = V::Fold(changed, true);
        return kCheckChangedInput;
    }
    if (V::AnyBit(wrong)) {
        state->bits = V::Fold(wrong, true);
        return kCheckWrongResult;
    }
    return kCheckClean;
}

template <class V>
KERNEL_ALWAYS_INLINE int Pass(const double* a, const double* b, const double* c, double* d,
                              size_t n, KernelState* state)
{
    typename V::Sum inputs, wrong;
    Sweep<V>(a, b, c, d, n, inputs, wrong);
    return Check<V>(inputs, wrong, state);
}

// The passes after a loop's first, compared with the pass before's sums lane by
// lane; the sums are folded only when they differ or a result is wrong: a short
// pass then costs little more than its sweep. The count of passes is stored after
// each pass, where other threads may read it.
template <class V>
KERNEL_ALWAYS_INLINE int RepeatPasses(const double* a, const double* b, const double* c, double* d,
                                      size_t n, typename V::Sum inputs, KernelState* state)
{
    typename V::Sum wrong;
    unsigned long long passes = state->passes;
    while (testRunning != 0 && passes != state->passLimit) {
        const typename V::Sum last = inputs;
        Sweep<V>(a, b, c, d, n, inputs, wrong);
        if (V::AnyBit(V::Merge(V::Merge(inputs, last, false), wrong, true)))
            return CheckLanes<V>(inputs, last, wrong, state);
        StorePassCount(state, ++passes);
    }
    return kCheckClean;
}

// A variant may write its later passes out (a specialization); by default they
// are RepeatPasses.
template <class V>
KERNEL_ALWAYS_INLINE int LaterPasses(const double* a, const double* b, const double* c, double* d,
                                     size_t n, typename V::Sum inputs, KernelState* state)
{
    return RepeatPasses<V>(a, b, c, d, n, inputs, state);
}

template <class V>
KERNEL_ALWAYS_INLINE int Loop(const double* a, const double* b, const double* c, double* d,
                              size_t n, KernelState* state)
{
    typename V::Sum inputs, wrong;
    Sweep<V>(a, b, c, d, n, inputs, wrong);
    const int check = Check<V>(inputs, wrong, state);
    return check == kCheckClean ? LaterPasses<V>(a, b, c, d, n, inputs, state) : check;
}

// The entry points of a variant, KernelPass<suffix> and KernelLoop<suffix>.
#define KERNEL_VARIANT_DEFINE(suffix, V)                                                        \
    int KernelPass##suffix(const double* a, const double* b, const double* c, double* d,       \
                           size_t n, KernelState* state)                                  \
    {                                                                                           \
        return Pass<V>(a, b, c, d, n, state);                                                   \
    }                                                                                           \
    int KernelLoop##suffix(const double* a, const double* b, const double* c, double* d,       \
                           size_t n, KernelState* state)                                  \
    {                                                                                           \
        return Loop<V>(a, b, c, d, n, state);                                                   \
    }
