#include <gtest/gtest.h>

#include "ui/RunConfig.h"
#include "ui/TestDlg.h"

namespace {

// The dialog's choices as it opens.
RunSelections Defaults()
{
    CTestDlg dialog;
    return dialog.Selections();
}

} // namespace

TEST(RunConfig, DefaultDialogGivesTheDefaultRun)
{
    const TestConfig config = BuildTestConfig(Defaults());
    EXPECT_EQ(0u, config.memoryTest);
    EXPECT_EQ(0u, config.vpuTest);
    EXPECT_EQ(0u, config.videoMemoryTest);
    EXPECT_EQ(1u, config.threadCount);
    EXPECT_EQ(0u, config.memorySizeMB);
    EXPECT_EQ(0u, config.textureCount);
    EXPECT_EQ(600000u, config.durationMs);
    EXPECT_EQ(10000u, config.logIntervalMs);
    EXPECT_EQ(1u, config.logCpuLoad);
    EXPECT_EQ(0u, config.logCpuTemperature);
    EXPECT_EQ(0u, config.logVpuTemperature);
}

TEST(RunConfig, FlagsAreCopied)
{
    RunSelections s = Defaults();
    s.testMemory = 1;
    s.testVpu = 1;
    s.testVideoMemory = 1;
    s.logCpuLoad = 0;
    s.logCpuTemperature = 1;
    s.logVpuTemperature = 1;
    const TestConfig config = BuildTestConfig(s);
    EXPECT_EQ(1u, config.memoryTest);
    EXPECT_EQ(1u, config.vpuTest);
    EXPECT_EQ(1u, config.videoMemoryTest);
    EXPECT_EQ(0u, config.logCpuLoad);
    EXPECT_EQ(1u, config.logCpuTemperature);
    EXPECT_EQ(1u, config.logVpuTemperature);
}

TEST(RunConfig, ThreadListGivesWorkersAndOneForAnythingElse)
{
    const struct {
        int index;
        unsigned threads;
    } cases[] = { { 0, 1 }, { 1, 2 }, { 2, 4 }, { 3, 8 }, { 4, 16 }, { -1, 1 }, { 5, 1 }, { 100, 1 }, { -7, 1 } };
    for (const auto& c : cases) {
        RunSelections s = Defaults();
        s.threadIndex = c.index;
        EXPECT_EQ(c.threads, BuildTestConfig(s).threadCount) << "index " << c.index;
    }
}

TEST(RunConfig, MemoryListGivesMegabytesAndAllForMaxOrAnythingElse)
{
    const struct {
        int index;
        unsigned megabytes;
    } cases[] = {
        { 0, 16 }, { 1, 32 }, { 2, 48 }, { 3, 64 }, { 4, 96 }, { 5, 128 }, { 6, 192 }, { 7, 256 },
        { 8, 0 }, { -1, 0 }, { 9, 0 }, { -2, 0 },
    };
    for (const auto& c : cases) {
        RunSelections s = Defaults();
        s.memoryIndex = c.index;
        EXPECT_EQ(c.megabytes, BuildTestConfig(s).memorySizeMB) << "index " << c.index;
    }
}

TEST(RunConfig, RenderTargetAndTextureListsGiveSizesAndZeroForNoSelection)
{
    const unsigned widths[] = { 512, 640, 800, 1024, 1152, 1280, 1280, 1600 };
    const unsigned heights[] = { 384, 480, 600, 768, 864, 960, 1024, 1200 };
    const unsigned textures[] = { 16, 32, 64, 128, 256, 512, 1024, 2048 };
    for (int i = 0; i < 8; ++i) {
        RunSelections s = Defaults();
        s.renderTargetIndex = i;
        s.textureSizeIndex = i;
        const TestConfig config = BuildTestConfig(s);
        EXPECT_EQ(widths[i], config.renderTargetWidth) << i;
        EXPECT_EQ(heights[i], config.renderTargetHeight) << i;
        EXPECT_EQ(textures[i], config.textureWidth) << i;
        EXPECT_EQ(textures[i], config.textureHeight) << i;
    }
    for (int index : { -1, 8, 1000 }) {
        RunSelections s = Defaults();
        s.renderTargetIndex = index;
        s.textureSizeIndex = index;
        const TestConfig config = BuildTestConfig(s);
        EXPECT_EQ(0u, config.renderTargetWidth) << index;
        EXPECT_EQ(0u, config.renderTargetHeight) << index;
        EXPECT_EQ(0u, config.textureWidth) << index;
        EXPECT_EQ(0u, config.textureHeight) << index;
    }
}

TEST(RunConfig, TextureCountIsTheItemNumber)
{
    for (int index = -1; index < 8; ++index) {
        RunSelections s = Defaults();
        s.textureCountIndex = index;
        EXPECT_EQ(static_cast<unsigned>(index + 1), BuildTestConfig(s).textureCount) << index;
    }
}

TEST(RunConfig, DurationAndIntervalInMilliseconds)
{
    const struct {
        unsigned hours, minutes, seconds;
        unsigned durationMs, intervalMs;
    } cases[] = {
        { 0, 1, 1, 60000, 1000 },          // shortest duration, shortest interval
        { 24, 59, 60, 89940000, 60000 },   // longest of both
        { 1, 0, 10, 3600000, 10000 },
        { 2, 30, 5, 9000000, 5000 },
    };
    for (const auto& c : cases) {
        RunSelections s = Defaults();
        s.hours = c.hours;
        s.minutes = c.minutes;
        s.logIntervalSeconds = c.seconds;
        const TestConfig config = BuildTestConfig(s);
        EXPECT_EQ(c.durationMs, config.durationMs) << c.hours << "h" << c.minutes;
        EXPECT_EQ(c.intervalMs, config.logIntervalMs) << c.seconds;
    }
}

TEST(RunConfig, SelectionsComeFromTheDialogMembers)
{
    CTestDlg dialog;
    dialog.m_bTestMemory = 1;
    dialog.m_nThreadCount = 3;
    dialog.m_nMemorySize = 5;
    dialog.m_nRenderTargetSize = 2;
    dialog.m_nTextureSize = 4;
    dialog.m_nTextureCount = 6;
    dialog.m_nHours = 2;
    dialog.m_nMinutes = 15;
    dialog.m_nLogInterval = 30;
    dialog.m_bLogCpuLoad = 0;
    const TestConfig config = BuildTestConfig(dialog.Selections());
    EXPECT_EQ(1u, config.memoryTest);
    EXPECT_EQ(8u, config.threadCount);
    EXPECT_EQ(128u, config.memorySizeMB);
    EXPECT_EQ(800u, config.renderTargetWidth);
    EXPECT_EQ(256u, config.textureWidth);
    EXPECT_EQ(7u, config.textureCount);
    EXPECT_EQ(8100000u, config.durationMs);
    EXPECT_EQ(30000u, config.logIntervalMs);
    EXPECT_EQ(0u, config.logCpuLoad);
}
