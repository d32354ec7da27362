// The kernel classes: every variant the processor runs finds a bit changed in
// its inputs or in its expected results within one pass, named with its kind
// and bits, and repeats its results on the same data; the rest are skipped.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/KernelClassCryptoSha.h"
#include "engine/KernelClassVariants.h"
#include "engine/KernelClasses.h"
#include "engine/TestEngine.h"

namespace {

struct Case {
    KernelClassId id;
    unsigned int variant;
};

std::vector<Case> AllVariants()
{
    std::vector<Case> cases;
    for (int id = 0; id < kClassCount; ++id)
        for (unsigned int v = 0; v < GetKernelClass(static_cast<KernelClassId>(id)).variantCount; ++v)
            cases.push_back(Case{static_cast<KernelClassId>(id), v});
    return cases;
}

std::string CaseName(const testing::TestParamInfo<Case>& info)
{
    std::string name = std::string(GetKernelClass(info.param.id).name) + "_" +
                       GetKernelClass(info.param.id).variants[info.param.variant]->name;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class KernelClass : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (!VariantSupported(Variant()))
            GTEST_SKIP() << Class().name << " " << Variant().name
                         << " is not supported by this processor and operating system";
        InterlockedExchange(&testRunning, 1);
        // A worker's workspace holds what the load before it left there.
        workspace_.reset(new ClassWorkspace());
        std::memset(workspace_.get(), 0xA5, sizeof(ClassWorkspace));
        Variant().prepare(workspace_.get(), 7);
    }
    void TearDown() override { InterlockedExchange(&testRunning, 0); }

    const ::KernelClass& Class() const { return GetKernelClass(GetParam().id); }
    const ClassVariant& Variant() const { return *Class().variants[GetParam().variant]; }
    ClassWorkspace& Workspace() { return *workspace_; }

    // Passes until `limit` more or an error; the check, with state_ kept.
    int Run(unsigned long long limit)
    {
        state_.passLimit = state_.passes + limit;
        return Variant().loop(workspace_.get(), &state_);
    }

    KernelState state_ = {};
    std::unique_ptr<ClassWorkspace> workspace_;
};

TEST_P(KernelClass, RepeatsItsResultsOnTheSameDataAndMakesFreshDataPerSeed)
{
    ASSERT_GT(Workspace().inputWords, 0u);
    ASSERT_EQ(0u, Workspace().inputWords % 8);   // the input check reads whole 64-byte blocks
    ASSERT_LE(Workspace().inputWords, kClassInputWords);
    ASSERT_GT(Workspace().resultWords, 0u);
    ASSERT_LE(Workspace().resultWords, kClassResultWords);
    EXPECT_EQ(kCheckClean, Run(3));
    EXPECT_EQ(3u, state_.passes);
    EXPECT_EQ(kCheckClean, Run(2));
    EXPECT_EQ(5u, state_.passes);

    // The same seed gives the same workspace; another seed other inputs and results.
    std::unique_ptr<ClassWorkspace> again(new ClassWorkspace()), other(new ClassWorkspace());
    Variant().prepare(again.get(), 7);
    Variant().prepare(other.get(), 8);
    EXPECT_EQ(0, std::memcmp(again->input, Workspace().input, Workspace().inputWords * 8));
    EXPECT_EQ(0, std::memcmp(again->expected, Workspace().expected, Workspace().resultWords * 8));
    for (unsigned int i = 0; i < Workspace().resultWords; ++i)
        EXPECT_NE(other->expected[i], Workspace().expected[i]) << "result word " << i;
    // Shuffle indices may coincide; the data words may not.
    unsigned int same = 0;
    for (unsigned int i = 0; i < Workspace().inputWords; ++i)
        same += other->input[i] == Workspace().input[i];
    EXPECT_LT(same, Workspace().inputWords / 4);
}

TEST_P(KernelClass, FindsAnInputBitChangedBetweenPassesWithinOnePass)
{
    for (unsigned int i = 0; i < Workspace().inputWords; ++i) {
        const unsigned long long bit = 1ull << ((i * 7 + 3) % 64);
        SCOPED_TRACE(testing::Message() << "input word " << i);
        ASSERT_EQ(kCheckClean, Run(1));
        Workspace().input[i] ^= bit;
        const unsigned long long before = state_.passes;
        ASSERT_EQ(kCheckChangedInput, Run(10));
        EXPECT_EQ(before + 1, state_.passes);
        EXPECT_EQ(bit, state_.bits);
        Workspace().input[i] ^= bit;
    }
    EXPECT_EQ(kCheckClean, Run(1));
}

// A pass's results against an expected result made wrong: each word, each lane.
TEST_P(KernelClass, FindsAWrongResultWithinOnePass)
{
    for (unsigned int i = 0; i < Workspace().resultWords; ++i) {
        const unsigned long long bit = 1ull << ((i * 13 + 5) % 64);
        SCOPED_TRACE(testing::Message() << "result word " << i);
        ASSERT_EQ(kCheckClean, Run(1));
        Workspace().expected[i] ^= bit;
        const unsigned long long before = state_.passes;
        ASSERT_EQ(kCheckWrongResult, Run(10));
        EXPECT_EQ(before + 1, state_.passes);
        EXPECT_EQ(bit, state_.bits);
        Workspace().expected[i] ^= bit;
    }
    EXPECT_EQ(kCheckClean, Run(1));
}

// A unit computing differently on the same data (here: a first input word
// changed behind the inputs' sum) is found by the results alone.
TEST_P(KernelClass, FindsAResultChangedWithoutAChangedInput)
{
    ASSERT_EQ(kCheckClean, Run(1));
    Workspace().input[0] ^= 1ull << 20;
    SealClassInputs(&Workspace());
    EXPECT_EQ(kCheckWrongResult, Run(10));
    EXPECT_NE(0u, state_.bits);
}

// The loop reads the run flag between passes only: cleared, it makes one pass.
TEST_P(KernelClass, StopsAfterThePassInWhichTheFlagIsCleared)
{
    InterlockedExchange(&testRunning, 0);
    EXPECT_EQ(kCheckClean, Run(0));
    EXPECT_EQ(1u, state_.passes);
    EXPECT_EQ(1u, Variant().ceiling(&Workspace(), 0));
    InterlockedExchange(&testRunning, 1);
    EXPECT_EQ(4u, Variant().ceiling(&Workspace(), 4));
    // The ceiling writes nothing the checks read.
    EXPECT_EQ(kCheckClean, Run(1));
}

INSTANTIATE_TEST_SUITE_P(KernelClassVariants, KernelClass, testing::ValuesIn(AllVariants()), CaseName);

// A decryption that does not undo the encryption is found though the ciphertext
// is right: a decryption round key changed behind the inputs' sum.
TEST(KernelClassCrypto, AesFindsADecryptionThatDoesNotRoundTrip)
{
    const ClassVariant& aes = *GetKernelClass(kClassCrypto).variants[0];
    ASSERT_STREQ("AES", aes.name);
    if (!VariantSupported(aes))
        GTEST_SKIP() << "crypto AES is not supported by this processor and operating system";
    std::unique_ptr<ClassWorkspace> workspace(new ClassWorkspace());
    aes.prepare(workspace.get(), 3);
    KernelState state = {};
    state.passLimit = 1;
    ASSERT_EQ(kCheckClean, aes.loop(workspace.get(), &state));
    workspace->input[2 * 15] ^= 1ull << 9;   // a middle decryption key
    SealClassInputs(workspace.get());
    state.passLimit = 2;
    EXPECT_EQ(kCheckWrongResult, aes.loop(workspace.get(), &state));
}

// The SHA unit's reference is SHA-256 itself: the standard digest of "abc", one
// padded block from the standard initial state.
TEST(KernelClassCrypto, ShaReferenceComputesSha256)
{
    unsigned int state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned int message[16] = {0x61626380};
    message[15] = 24;   // the message's length in bits
    Sha256Compress(state, message);
    const unsigned int digest[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                    0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    for (unsigned int i = 0; i < 8; ++i)
        EXPECT_EQ(digest[i], state[i]) << "word " << i;
}

// Wide registers count only where the operating system saves them.
TEST(KernelClassCpu, WideVariantsNeedTheOperatingSystemsRegisterState)
{
    CpuidWords words = {};
    words.maxLeaf = 7;
    words.leaf1Ecx = (1u << 27) | (1u << 28) | (1u << 12) | (1u << 25);   // OSXSAVE, AVX, FMA, AES
    words.leaf7Ebx = (1u << 5) | (1u << 16) | (1u << 30);                 // AVX2, AVX-512F, BW
    words.xcr0 = 0x07;
    const ClassVariant& fma256 = *GetKernelClass(kClassFma).variants[0];
    const ClassVariant& fma512 = *GetKernelClass(kClassFma).variants[1];
    EXPECT_TRUE(VariantSupported(fma256, DecodeCpuFeatures(words)));
    EXPECT_FALSE(VariantSupported(fma512, DecodeCpuFeatures(words)));
    words.xcr0 = 0xE7;
    EXPECT_TRUE(VariantSupported(fma512, DecodeCpuFeatures(words)));
    words.xcr0 = 0x03;
    EXPECT_FALSE(VariantSupported(fma256, DecodeCpuFeatures(words)));
    words.leaf1Ecx &= ~(1u << 27);
    words.xcr0 = 0xE7;
    EXPECT_EQ(0u, DecodeCpuFeatures(words) & (kCpuAvx | kCpuFma | kCpuAvx512f));
    EXPECT_NE(0u, DecodeCpuFeatures(words) & kCpuAes);
}

TEST(KernelClassCpu, NamesEveryClass)
{
    const char* names[kClassCount] = {"fma", "integer", "vector", "crypto"};
    for (int id = 0; id < kClassCount; ++id) {
        EXPECT_STREQ(names[id], GetKernelClass(static_cast<KernelClassId>(id)).name);
        EXPECT_GT(GetKernelClass(static_cast<KernelClassId>(id)).variantCount, 0u);
    }
}

} // namespace
