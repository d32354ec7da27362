#pragma once
#include <string>
#include <vector>

// The settings given on the command line, Windows style: "/name value" or
// "-name value", names case-insensitive. Each option fills its dialog field.
struct CommandLineSettings {
    bool help = false;   // /?
    bool run = false;    // /run: start at once, close at the end
    bool hasThreads = false;
    std::string threads;   // a thread list item's text, "all" or "each"
    bool hasMemory = false;
    unsigned int memoryMB = 0;   // 0: max (all available); also turns the memory test on
    bool hasHours = false;
    unsigned int hours = 0;
    bool hasMinutes = false;
    unsigned int minutes = 0;
    bool hasInterval = false;
    unsigned int interval = 0;   // seconds
    bool hasLoad = false;
    bool load = false;
    bool hasResult = false;
    std::string result;   // the record's file as given (FindOptionValue reads it wide)
    bool hasKernel = false;
    unsigned int kernelMask = 0;   // the loads named (KernelLoadBit); 0: all
};

struct CommandLineResult {
    bool accepted = false;
    CommandLineSettings settings;   // as far as read; run tells whether /run was asked for
    std::string message;            // why it was refused
};

// Reads the command line (without the program's name). availableMB bounds
// /memory. A number out of its field's range gets the field's own message,
// after the option and its value ("/hours 25: Please enter an integer between
// 0 and 24."); an unknown option, one given twice or without its value is
// refused with its name.
CommandLineResult ParseCommandLine(const char* text, unsigned long long availableMB);

// The value after the first /name or -name in the arguments, whatever else they
// hold; false when there is no such option or no value after it. Wide, for
// paths: `arguments` as GetCommandLineW gives them, after the program's name.
bool FindOptionValue(const wchar_t* arguments, const char* name, std::wstring* value);
// What follows the program's name in a whole command line.
const wchar_t* ArgumentsOf(const wchar_t* commandLine);
// The /threads value that names an item of the thread list: "all" for "All (N)",
// "each" for "Each core (N)", the item's text for the others.
std::string ThreadOptionValue(const std::string& item);
// The refusal of a /threads value that names no item of the thread list (its
// items' texts), with the values it offers.
std::string ThreadValueMessage(const std::string& value, const std::vector<std::string>& items);

// Reads a /kernel value: load names (KernelLoadName, any case) or "all", separated
// by commas, against the loads this processor runs (`available`, KernelLoadBit).
// "" with *mask set (0 for all), or the refusal: of an unknown name, with the
// names there are; of a list none of which runs here, with the loads it lacks.
std::string KernelOptionMessage(const std::string& value, unsigned int available, unsigned int* mask);

// What /? shows.
extern const char kCommandLineHelp[];
