#pragma once
// A wide pass's verdict, for the class bodies over a vector type V (its AnyBit and
// FoldOr); included inside each variant's target options.

// Its inputs are read after the computation, so a change during the pass is
// caught by this one; then the OR of its results' differences, lane by lane.
template <class V, class Bits>
CLASS_INLINE int CheckWideClassPass(const ClassWorkspace* workspace, Bits wrong, unsigned long long* bits)
{
    const int inputs = CheckClassInputs(workspace, bits);
    if (inputs != kCheckClean)
        return inputs;
    if (!V::AnyBit(wrong))
        return kCheckClean;
    *bits = V::FoldOr(wrong);
    return kCheckWrongResult;
}
