// The integer class's pass over the hardware operations Ops, with or without bit
// counts (kBitCounts). Included by each variant's file inside its own target
// options and an anonymous namespace, after engine/KernelClassVariants.h and
// engine/KernelClassInteger.h.

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    IntegerChains<Ops, kBitCounts> chains;
    chains.Load(workspace->input);
    for (unsigned int b = 0; b < kIntegerBlocks; ++b)
        chains.Block();
    unsigned long long found[kIntegerResults];
    chains.Store(found);
    if (kMode == kModeCeiling) {
        asm volatile("" : : "m"(found));
        return kCheckClean;
    }
    return CheckClassPass(workspace, found, kIntegerResults, bits);
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    PrepareInteger(workspace, seed, kBitCounts);
}

CLASS_VARIANT_ENTRIES
