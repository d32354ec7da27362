#include "ui/RunConfig.h"

#include <cstddef>
#include <string>

#include "engine/ProcessorTopology.h"

namespace {

// The last item, "All", is every logical processor this program can use.
const unsigned int kThreadCounts[] = { 1, 2, 4, 8, 16, 32, 64 };
const unsigned int kMemorySizesMB[] = { 16, 32, 48, 64, 96, 128, 192, 256, 0 };
static_assert(sizeof kMemorySizesMB / sizeof kMemorySizesMB[0] == kAddedMemoryIndex,
              "the added memory item follows the list's own");
const unsigned int kRenderTargetWidths[] = { 512, 640, 800, 1024, 1152, 1280, 1280, 1600 };
const unsigned int kRenderTargetHeights[] = { 384, 480, 600, 768, 864, 960, 1024, 1200 };
const unsigned int kTextureSizes[] = { 16, 32, 64, 128, 256, 512, 1024, 2048 };

const unsigned int kMsPerHour = 3600000;
const unsigned int kMsPerMinute = 60000;
const unsigned int kMsPerSecond = 1000;

template <std::size_t N>
unsigned int Lookup(const unsigned int (&table)[N], int index, unsigned int fallback)
{
    return index >= 0 && static_cast<std::size_t>(index) < N ? table[index] : fallback;
}

} // namespace

TestConfig BuildTestConfig(const RunSelections& s)
{
    TestConfig config;
    config.memoryTest = static_cast<unsigned int>(s.testMemory);
    config.vpuTest = static_cast<unsigned int>(s.testVpu);
    config.videoMemoryTest = static_cast<unsigned int>(s.testVideoMemory);
    config.threadCount = s.threadIndex == kAllThreadsItem ? UsableProcessorCount()
                         : s.threadIndex == kEachCoreItem  ? 1
                                                           : Lookup(kThreadCounts, s.threadIndex, 1);
    config.eachCore = s.threadIndex == kEachCoreItem;
    config.memorySizeMB = s.memoryIndex == kAddedMemoryIndex && s.addedMemoryMB
                              ? s.addedMemoryMB
                              : Lookup(kMemorySizesMB, s.memoryIndex, 0);
    config.renderTargetWidth = Lookup(kRenderTargetWidths, s.renderTargetIndex, 0);
    config.renderTargetHeight = Lookup(kRenderTargetHeights, s.renderTargetIndex, 0);
    config.textureWidth = Lookup(kTextureSizes, s.textureSizeIndex, 0);
    config.textureHeight = config.textureWidth;
    // Item "1" is index 0; no selection (-1) gives 0.
    config.textureCount = static_cast<unsigned int>(s.textureCountIndex) + 1;
    config.durationMs = s.hours * kMsPerHour + s.minutes * kMsPerMinute;
    config.logIntervalMs = s.logIntervalSeconds * kMsPerSecond;
    config.logCpuLoad = static_cast<unsigned int>(s.logCpuLoad);
    config.logCpuTemperature = static_cast<unsigned int>(s.logCpuTemperature);
    config.logVpuTemperature = static_cast<unsigned int>(s.logVpuTemperature);
    config.kernelMask = s.kernelMask;
    return config;
}

std::string EachCoreDurationRefusal(unsigned int cores, unsigned int hours, unsigned int minutes)
{
    if (static_cast<unsigned long long>(hours) * 60 + minutes >= cores)
        return "";
    const std::string n = std::to_string(cores);
    return "Each core needs at least one minute: " + n + (cores == 1 ? " core needs" : " cores need") +
           " at least " + n + (cores == 1 ? " minute." : " minutes.");
}
