// The integer class's chains, written once over an operations type Ops, so that
// the passes (hardware multiply, divide and bit counts) and the reference that
// prepares their expected results (the same arithmetic from half-width products,
// shift-and-subtract division and bit loops) take the same steps. Included inside
// the includer's target options and anonymous namespace, after
// engine/KernelClassInteger.h.
//
// Ops supplies W (the general register's width), MulHiLo (lo returned, hi stored),
// MulLo (the low half alone), Div (quotient returned, remainder stored), and with
// bit counts Popcnt, Lzcnt, Tzcnt.
//
// A multiply chain takes the full product (lo + hi) every third step and the low
// half plus an addend in the others: the full product alone does not start every
// cycle on every processor (0.65 a cycle on Zen 3), one in three with low halves
// keeps the multiplier busy every cycle.

template <class Ops, bool kBitCounts>
struct IntegerChains {
    typedef typename Ops::W W;
    static const unsigned int kBits = sizeof(W) * 8;
    W x[kMulChains], z[kShiftChains], y, k, d, cz, cy;

    INTEGER_INLINE void Load(const unsigned long long* in)
    {
        for (unsigned int c = 0; c < kMulChains; ++c)
            x[c] = static_cast<W>(in[c]);
        for (unsigned int c = 0; c < kShiftChains; ++c)
            z[c] = static_cast<W>(in[kMulChains + c]);
        const unsigned long long* rest = in + kMulChains + kShiftChains;
        y = static_cast<W>(rest[0]);
        k = static_cast<W>(rest[1]);
        // Half the width, its top bit and its lowest set: never 0, the quotient fits.
        const W half = static_cast<W>((W(1) << (kBits / 2)) - 1);
        d = static_cast<W>((static_cast<W>(rest[2]) & half) | (W(1) << (kBits / 2 - 1)) | 1);
        cz = static_cast<W>(rest[3]);
        cy = static_cast<W>(rest[4]);
    }

    INTEGER_INLINE void Store(unsigned long long* out) const
    {
        for (unsigned int c = 0; c < kMulChains; ++c)
            out[c] = x[c];
        for (unsigned int c = 0; c < kShiftChains; ++c)
            out[kMulChains + c] = z[c];
        out[kMulChains + kShiftChains] = y;
    }

    static INTEGER_INLINE W Rotr(W v, unsigned int n) { return static_cast<W>((v >> n) | (v << (kBits - n))); }

    INTEGER_INLINE void Block()
    {
#pragma GCC unroll 64
        for (unsigned int step = 0; step < kMulSteps; ++step) {
#pragma GCC unroll 8
            for (unsigned int c = 0; c < kMulChains; ++c) {
                if ((step + c) % 3 == 0) {
                    W hi;
                    const W lo = Ops::MulHiLo(x[c], k, &hi);
                    x[c] = static_cast<W>(lo + hi);
                } else {
                    x[c] = static_cast<W>(Ops::MulLo(x[c], k) + cy);
                }
            }
            if (step % (kMulSteps / kShiftSteps))
                continue;
#pragma GCC unroll 8
            for (unsigned int c = 0; c < kShiftChains; ++c) {
                W v = static_cast<W>(Rotr(z[c], 19) + (z[c] >> 7) + cz);
                if (kBitCounts)
                    v = static_cast<W>(v + Ops::Popcnt(z[c]) + (Ops::Lzcnt(z[c]) << 8) + (Ops::Tzcnt(z[c]) << 16));
                asm("" : "+r"(v));   // a general register: the shifts stay scalar
                z[c] = v;
            }
        }
        W r;
        const W q = Ops::Div(y, d, &r);
        y = static_cast<W>((r << (kBits / 2)) + q + cy);
    }
};

