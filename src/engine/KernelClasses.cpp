#include "engine/KernelClasses.h"

#include "engine/KernelClassVariants.h"

namespace {

const ClassVariant* const kFmaVariants[] = {&kFmaAvx2, &kFmaAvx512};
const ClassVariant* const kIntegerVariants[] = {&kIntegerBase, &kIntegerBmi2};
const ClassVariant* const kVectorVariants[] = {&kVectorSse41, &kVectorAvx2, &kVectorAvx512};
const ClassVariant* const kCryptoVariants[] = {&kCryptoAes, &kCryptoClmul, &kCryptoCrc32, &kCryptoSha};

const KernelClass kClasses[kClassCount] = {
    {"fma", kFmaVariants, sizeof kFmaVariants / sizeof *kFmaVariants},
    {"integer", kIntegerVariants, sizeof kIntegerVariants / sizeof *kIntegerVariants},
    {"vector", kVectorVariants, sizeof kVectorVariants / sizeof *kVectorVariants},
    {"crypto", kCryptoVariants, sizeof kCryptoVariants / sizeof *kCryptoVariants},
};

} // namespace

const KernelClass& GetKernelClass(KernelClassId id)
{
    return kClasses[id];
}

bool VariantSupported(const ClassVariant& variant, unsigned int features)
{
    return (features & variant.requires) == variant.requires;
}

void SumClassInputs(const ClassWorkspace* workspace, unsigned long long sum[8])
{
    for (unsigned int lane = 0; lane < 8; ++lane)
        sum[lane] = 0;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        sum[i % 8] ^= workspace->input[i];
}

void SealClassInputs(ClassWorkspace* workspace)
{
    SumClassInputs(workspace, workspace->inputSum);
}

// The count of passes is stored after each pass, where other threads may read it.
int RunClassPasses(ClassWorkspace* workspace, KernelState* state, ClassPassFn pass)
{
    unsigned long long passes = state->passes;
    for (;;) {
        unsigned long long bits = 0;
        const int check = pass(workspace, &bits);
        StorePassCount(state, ++passes);
        if (check != kCheckClean) {
            state->bits = bits;
            return check;
        }
        if (testRunning == 0 || passes == state->passLimit)
            return kCheckClean;
    }
}

unsigned long long RunCeilingPasses(ClassWorkspace* workspace, unsigned long long passes, ClassPassFn pass)
{
    unsigned long long made = 0;
    unsigned long long bits = 0;
    do {
        pass(workspace, &bits);
        ++made;
    } while (testRunning != 0 && made != passes);
    return made;
}
