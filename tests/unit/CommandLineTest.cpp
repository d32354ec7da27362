// The command line: what each option puts into its field, and every refusal with
// the option's name and the field's own message.
#include <gtest/gtest.h>

#include <cstring>

#include "app/CommandLine.h"
#include "engine/KernelLoads.h"
#include "ui/RunConfig.h"

namespace {

// The settings read, one word per option given, in a fixed order.
std::string Describe(const CommandLineSettings& s)
{
    std::string text;
    auto add = [&](bool has, const std::string& what) { text += has ? what + " " : ""; };
    add(s.help, "help");
    add(s.run, "run");
    add(s.hasThreads, "threads=" + s.threads);
    add(s.hasMemory, "memory=" + (s.memoryMB ? std::to_string(s.memoryMB) : std::string("max")));
    add(s.hasHours, "hours=" + std::to_string(s.hours));
    add(s.hasMinutes, "minutes=" + std::to_string(s.minutes));
    add(s.hasInterval, "interval=" + std::to_string(s.interval));
    add(s.hasLoad, std::string("load=") + (s.load ? "on" : "off"));
    add(s.hasResult, "result=" + s.result);
    add(s.hasKernel, "kernel=" + std::to_string(s.kernelMask));
    return text;
}

TEST(CommandLine, FillsTheFieldsOrRefusesWithTheOptionAndTheFieldsMessage)
{
    const unsigned long long available = 3000;
    const struct { const char* text; const char* settings; const char* refusal; } cases[] = {
        {"", "", nullptr},
        {"/?", "help ", nullptr},
        {"  /THREADS 16 -Memory 3000 /hours 24 /Minutes 59 -interval 60 /load OFF /run ",
         "run threads=16 memory=3000 hours=24 minutes=59 interval=60 load=off ", nullptr},
        {"-threads ALL /memory max /hours 1 /minutes 0 /interval 1 /load on",
         "threads=all memory=max hours=1 minutes=0 interval=1 load=on ", nullptr},
        {"/memory 16 /minutes 1", "memory=16 minutes=1 ", nullptr},
        {"\"/threads\" \"8\"", "threads=8 ", nullptr},
        {"/Result \"C:\\a b\\r.json\" /run", "run result=C:\\a b\\r.json ", nullptr},
        // /kernel: load bits (stream 1, cache 32: every processor runs them), 0 for all.
        {"/KERNEL Cache,STREAM /hours 2", "hours=2 kernel=33 ", nullptr},
        {"-kernel stream,stream", "kernel=1 ", nullptr},
        {"/kernel ALL", "kernel=0 ", nullptr},
        {"/kernel cache,all", "kernel=0 ", nullptr},
        // Refused, with the option's name.
        {"/run /hour 2", nullptr, "Unknown option /hour. /? lists the options."},
        {"/run 2", nullptr, "Unknown option 2. /? lists the options."},
        {"/hours 2 /minutes 5 -HOURS 3", nullptr, "The option /hours is given twice."},
        {"/run /run", nullptr, "The option /run is given twice."},
        {"/threads", nullptr, "The option /threads needs a value."},
        {"/memory /run", nullptr, "The option /memory needs a value."},
        {"/result", nullptr, "The option /result needs a value."},
        {"/kernel stream /run -Kernel cache", nullptr, "The option /kernel is given twice."},
        {"/kernel /run", nullptr, "The option /kernel needs a value."},
        {"/kernel fmx", nullptr,
         "/kernel fmx: Please choose from stream, fma, integer, vector, crypto, cache, or all, separated by commas."},
        {"/kernel stream,,cache", nullptr,
         "/kernel stream,,cache: Please choose from stream, fma, integer, vector, crypto, cache, or all, separated by commas."},
        {"/kernel stream;cache", nullptr,
         "/kernel stream;cache: Please choose from stream, fma, integer, vector, crypto, cache, or all, separated by commas."},
        {"/kernel cache, /run", nullptr,
         "/kernel cache,: Please choose from stream, fma, integer, vector, crypto, cache, or all, separated by commas."},
        // The fields' own messages: ranges, and what is no unsigned 32-bit number.
        {"/hours 25", nullptr, "/hours 25: Please enter an integer between 0 and 24."},
        {"/minutes 0", nullptr, "/minutes 0: Please enter an integer between 1 and 59."},
        {"/minutes 0 /hours 0", nullptr, "/minutes 0: Please enter an integer between 1 and 59."},
        {"/hours 1 /minutes 60", nullptr, "/minutes 60: Please enter an integer between 0 and 59."},
        {"/interval 0", nullptr, "/interval 0: Please enter an integer between 1 and 60."},
        {"/interval 61", nullptr, "/interval 61: Please enter an integer between 1 and 60."},
        {"/memory 15", nullptr, "/memory 15: Please enter an integer between 16 and 3000."},
        {"/memory 3001", nullptr, "/memory 3001: Please enter an integer between 16 and 3000."},
        {"/hours -1", nullptr, "/hours -1: Please enter an unsigned integer."},
        {"/minutes 4294967296", nullptr, "/minutes 4294967296: Please enter an unsigned integer."},
        {"/memory lots", nullptr, "/memory lots: Please enter an unsigned integer."},
        {"/load yes", nullptr, "/load yes: Please enter on or off."},
        // The first refusal counts.
        {"/hours x /interval 0", nullptr, "/hours x: Please enter an unsigned integer."},
        {"/kernel fmx /hours 25", nullptr,
         "/kernel fmx: Please choose from stream, fma, integer, vector, crypto, cache, or all, separated by commas."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const CommandLineResult result = ParseCommandLine(c.text, available);
        ASSERT_EQ(c.refusal == nullptr, result.accepted) << result.message;
        if (c.refusal)
            EXPECT_EQ(c.refusal, result.message);
        else
            EXPECT_EQ(c.settings, Describe(result.settings));
        // A refusal in a /run start is told to nobody's message box.
        EXPECT_EQ(std::string(c.text).find("/run") != std::string::npos, result.settings.run);
    }
    // The record's file is read from the wide command line, whatever else it holds.
    std::wstring file;
    EXPECT_TRUE(FindOptionValue(ArgumentsOf(L"\"C:\\Program Files\\Burnwright64.exe\" /hours x -RESULT \"D:\\L\u00e4ufe\\r 1.json\" /run"),
                                "result", &file));
    EXPECT_EQ(L"D:\\L\u00e4ufe\\r 1.json", file);
    EXPECT_FALSE(FindOptionValue(ArgumentsOf(L"Burnwright.exe /result /run"), "result", &file));
    EXPECT_FALSE(FindOptionValue(ArgumentsOf(L"Burnwright.exe /results x"), "result", &file));
}

// /threads takes what the list offers, before and after the list grows ("all" and
// "each" once it has their items); each core in turn is one worker and needs a
// minute for every core; "MAX" stays all available memory when a size was added.
TEST(CommandLine, NamesTheListsChoicesAndAddsAMemorySize)
{
    const std::vector<std::string> five = {"1", "2", "4", "8", "16"};
    const std::vector<std::string> more = {"1", "2", "4", "8", "16", "32", "64", "All (12)", "Each core (6)"};
    EXPECT_EQ("/threads 3: Please choose one of 1, 2, 4, 8, 16.", ThreadValueMessage("3", five));
    EXPECT_EQ("/threads all: Please choose one of 1, 2, 4, 8, 16.", ThreadValueMessage("all", five));
    EXPECT_EQ("/threads 128: Please choose one of 1, 2, 4, 8, 16, 32, 64, all, each.",
              ThreadValueMessage("128", more));
    EXPECT_EQ("threads=each ", Describe(ParseCommandLine("/threads EACH", 3000).settings));

    // Each core: one worker, moved from core to core, at least a minute for each core.
    RunSelections each = {};
    each.threadIndex = kEachCoreItem;
    EXPECT_EQ(1u, BuildTestConfig(each).threadCount);
    EXPECT_EQ(1u, BuildTestConfig(each).eachCore);
    each.threadIndex = kAllThreadsItem;
    EXPECT_EQ(0u, BuildTestConfig(each).eachCore);
    EXPECT_EQ("Each core needs at least one minute: 16 cores need at least 16 minutes.",
              EachCoreDurationRefusal(16, 0, 15));
    EXPECT_EQ("Each core needs at least one minute: 1 core needs at least 1 minute.", EachCoreDurationRefusal(1, 0, 0));
    EXPECT_EQ("", EachCoreDurationRefusal(16, 0, 16));
    EXPECT_EQ("", EachCoreDurationRefusal(64, 1, 4));
    EXPECT_NE("", EachCoreDurationRefusal(64, 1, 3));

    RunSelections s = {};   // "MAX" after a size was added (the added size: the program test)
    s.memoryIndex = kAddedMemoryIndex - 1;
    s.addedMemoryMB = 300;
    EXPECT_EQ(0u, BuildTestConfig(s).memorySizeMB);
}

// /kernel against what a processor runs: a list is taken when any of its loads runs
// here, refused naming each load it lacks (once) when none does; the mask reaches
// the run's configuration, and on this machine the option agrees with its loads.
TEST(CommandLine, TakesTheKernelLoadsThisProcessorRuns)
{
    const unsigned int fma = KernelLoadBit(kLoadFma), integer = KernelLoadBit(kLoadInteger),
                       vector = KernelLoadBit(kLoadVector), crypto = KernelLoadBit(kLoadCrypto);
    const unsigned int streams = KernelLoadBit(kLoadStream) | KernelLoadBit(kLoadCache);
    const struct { const char* value; unsigned int available, mask; const char* refusal; } cases[] = {
        {"fma,Vector", kAllLoads, fma | vector, ""},
        {"crypto,integer,crypto", streams | integer, crypto | integer, ""},
        {"all", streams, 0, ""},
        {"crypto", streams | fma | integer | vector, 0, "/kernel crypto: This processor lacks crypto. Please choose another load, or all."},
        {"fma,FMA", streams, 0, "/kernel fma,FMA: This processor lacks fma. Please choose another load, or all."},
        {"vector,fma", streams | crypto, 0,
         "/kernel vector,fma: This processor lacks fma and vector. Please choose another load, or all."},
        {"crypto,integer,vector", streams | fma, 0,
         "/kernel crypto,integer,vector: This processor lacks integer, vector and crypto. Please choose another load, or all."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        unsigned int mask = 99;
        EXPECT_EQ(c.refusal, KernelOptionMessage(c.value, c.available, &mask));
        if (!*c.refusal) {
            EXPECT_EQ(c.mask, mask);
        }
    }

    const unsigned int units = fma | integer | vector | crypto;
    const CommandLineResult here = ParseCommandLine("/kernel fma,integer,vector,crypto", 3000);
    EXPECT_EQ((units & AvailableKernelLoads()) != 0, here.accepted) << here.message;
    if (here.accepted) {
        EXPECT_EQ(units, here.settings.kernelMask);
    }

    RunSelections s = {};
    s.kernelMask = fma | crypto;
    EXPECT_EQ(fma | crypto, BuildTestConfig(s).kernelMask);
    EXPECT_NE(nullptr, std::strstr(kCommandLineHelp, "/kernel NAME[,NAME...]"));
}

} // namespace
