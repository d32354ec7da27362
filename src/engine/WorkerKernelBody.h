// The worker kernel's verified pass and loop, written once over a vector type V.
// Each variant's file includes this inside its own target options and an anonymous
// namespace, after engine/TestEngine.h and engine/WorkerKernel.h; it includes nothing.
//
// V supplies: Reg (doubles), Sum (bit sums), kLanes (doubles per Reg, dividing 8),
// Load, Store, Mul, Add, Zero (a Sum), Xor3 (s ^ p ^ q), OrXor (s | (p ^ q)),
// Merge (two sums of one kind), AnyBit and Fold (the lanes' XOR, or OR, as 64 bits).
// Load keeps what it loads in a register (an empty asm statement does it): the
// compiler would otherwise load an input again as an operand of each instruction
// that uses it.

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
    const Reg result = V::Add(V::Mul(x, y), z);
    inputs = V::Xor3(inputs, x, y);
    differences = V::OrXor(differences, V::Load(d), result);
    V::Store(d, result);
    return z;
}

// One pass. Every d[j] is read before it is written and must equal the result it
// is about to be replaced with; the XOR of every input word must match the pass
// before (a change of an input does not always show in its result).
template <class V>
KERNEL_ALWAYS_INLINE int Pass(const double* a, const double* b, const double* c, double* d,
                              size_t n, KernelState* state)
{
#if defined(__x86_64__)
    const int kSets = 2;   // sums for alternate vectors: shorter dependency chains
#else
    const int kSets = 1;   // eight vector registers: one set, so that no sum is spilled
#endif
    typename V::Sum inputs[2] = {V::Zero(), V::Zero()}, differences[2] = {V::Zero(), V::Zero()};
    typename V::Sum inputsC = V::Zero();
    // A pointer-sized index: addresses need no widening in the loop.
    const size_t w = V::kLanes;
    for (size_t j = 0; j < n; j += 16) {
        for (size_t k = 0; k < 16; k += 2 * w) {
            const double *ak = a + j + k, *bk = b + j + k, *ck = c + j + k;
            double* dk = d + j + k;
            const typename V::Reg z0 = Step<V>(ak, bk, ck, dk, inputs[0], differences[0]);
            const typename V::Reg z1 =
                Step<V>(ak + w, bk + w, ck + w, dk + w, inputs[kSets - 1], differences[kSets - 1]);
            inputsC = V::Xor3(inputsC, z0, z1);
        }
    }

    const unsigned long long inputSum =
        V::Fold(V::Merge(V::Merge(inputs[0], inputs[1], false), inputsC, false), false);
    const typename V::Sum wrong = V::Merge(differences[0], differences[1], true);
    const unsigned long long changedBits = state->passes != 0 ? inputSum ^ state->inputSum : 0;
    state->inputSum = inputSum;
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

template <class V>
KERNEL_ALWAYS_INLINE int Loop(const double* a, const double* b, const double* c, double* d,
                              size_t n, KernelState* state)
{
    int check;
    do {
        check = Pass<V>(a, b, c, d, n, state);
    } while (check == kCheckClean && testRunning != 0 && state->passes != state->passLimit);
    return check;
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
