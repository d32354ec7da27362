// 128-bit variant of the worker kernel: SSE2, which every supported processor has.
#include <emmintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

namespace {

struct Sse2 {
    typedef __m128d Reg;
    typedef Reg Sum;
    static const int kSets = 3;   // sums in turn (x86-64): four spill one to the stack
    static const int kSets32 = 2;   // input sums in turn in 32-bit code (eight registers)
    static const unsigned int kLanes = 2;

    KERNEL_OP Reg Load(const double* p)
    {
        Reg v = _mm_loadu_pd(p);
        asm("" : "+x"(v));
        return v;
    }
    // SSE2 takes only aligned memory operands, and the operand would overwrite the
    // result it is compared with: a register as well.
    KERNEL_OP Reg LoadOperand(const double* p) { return Load(p); }
    KERNEL_OP void Store(double* p, Reg v) { _mm_storeu_pd(p, v); }
    // SSE2 instructions overwrite their first operand. Each operation names the
    // operand it overwrites, one whose old value is no longer needed (a sum, or
    // a value's last use), so that no input is copied to another register first.
    KERNEL_OP Reg Mul(Reg p, Reg q)
    {
        asm("mulpd %1, %0" : "+x"(p) : "x"(q));
        return p;
    }
    KERNEL_OP Reg Add(Reg p, Reg q)
    {
        asm("addpd %1, %0" : "+x"(p) : "x"(q));
        return p;
    }
    KERNEL_OP Reg Zero() { return _mm_setzero_pd(); }
    KERNEL_OP Reg Xor3(Reg s, Reg p, Reg q)
    {
        asm("xorpd %1, %0\n\txorpd %2, %0" : "+x"(s) : "x"(p), "x"(q));
        return s;
    }
    KERNEL_OP Reg OrXor(Reg acc, Reg p, Reg q)
    {
        asm("xorpd %1, %0" : "+x"(p) : "x"(q));
        asm("orpd %1, %0" : "+x"(acc) : "x"(p));
        return acc;
    }
    KERNEL_OP Reg Merge(Reg s, Reg t, bool orSums)
    {
        return orSums ? _mm_or_pd(s, t) : _mm_xor_pd(s, t);
    }
    KERNEL_OP bool AnyBit(Reg v)
    {
        return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_castpd_si128(v), _mm_setzero_si128())) != 0xFFFF;
    }
    KERNEL_OP unsigned long long Fold(Reg v, bool orLanes)
    {
        alignas(16) unsigned long long lanes[2];
        _mm_store_pd(reinterpret_cast<double*>(lanes), v);
        return orLanes ? lanes[0] | lanes[1] : lanes[0] ^ lanes[1];
    }
};

#include "engine/WorkerKernelBody.h"

} // namespace

KERNEL_VARIANT_DEFINE(Sse2, Sse2)
