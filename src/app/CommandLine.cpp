#include "app/CommandLine.h"

#include <cctype>
#include <cstring>

#include "engine/KernelLoads.h"
#include "framework/DataExchange.h"
#include "ui/FieldRules.h"

const char kCommandLineHelp[] =
    "Burnwright [/threads N|all|each] [/memory MB|max] [/hours H] [/minutes M] [/interval S] [/load on|off]\n"
    "           [/kernel NAME[,NAME...]] [/result FILE] [/run]\n"
    "\n"
    "  /threads N|all|each  worker threads: a number the thread list offers, all,\n"
    "                  or each: one core at a time, at least one minute each\n"
    "  /memory MB|max  tests memory too: 16 MB up to what is available, or max (all of it\n"
    "                  but a reserve)\n"
    "  /hours H        test duration: hours, 0 to 24\n"
    "  /minutes M      and minutes, 0 to 59 (1 to 59 with 0 hours)\n"
    "  /interval S     seconds between log lines, 1 to 60\n"
    "  /load on|off    log the processor load\n"
    "  /kernel NAME[,NAME...]  the loads to rotate through: stream, fma, integer, vector,\n"
    "                  crypto, cache, or all (the default)\n"
    "  /result FILE    write a JSON record of each run to FILE as it starts and ends\n"
    "  /run            start the run at once and close when it ends\n"
    "\n"
    "Options may also start with -. Without /run they fill the dialog.\n"
    "With /run the exit code tells how the run ended: 0 it reached its time with no error,\n"
    "1 wrong results, 2 an option was refused or the run could not start, 3 it was ended early,\n"
    "4 a core of an each-core run could not be tested.";

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Words separated by blanks; double quotes group blanks into a word.
template <class Char>
std::vector<std::basic_string<Char>> Words(const Char* text)
{
    std::vector<std::basic_string<Char>> words;
    static const Char none[1] = {};
    for (const Char* p = text ? text : none; *p;) {
        if (*p == ' ' || *p == '\t') {
            ++p;
            continue;
        }
        std::basic_string<Char> word;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '"')
                quoted = !quoted;
            else
                word += *p;
        }
        words.push_back(word);
    }
    return words;
}

// "/name" or "-name" (a letter or '?' after the sign): an option, not a value.
template <class Char>
bool IsOptionWord(const std::basic_string<Char>& word)
{
    const bool letter = (word.size() >= 2 && word[1] >= 'a' && word[1] <= 'z') ||
                        (word.size() >= 2 && word[1] >= 'A' && word[1] <= 'Z');
    return word.size() >= 2 && (word[0] == '/' || word[0] == '-') && (letter || word[1] == '?');
}

// Whether an option word names `name` (lower case), letters in any case.
template <class Char>
bool NamesOption(const std::basic_string<Char>& word, const char* name)
{
    size_t i = 1;
    for (; i < word.size() && name[i - 1]; ++i) {
        const Char c = word[i] >= 'A' && word[i] <= 'Z' ? static_cast<Char>(word[i] - 'A' + 'a') : word[i];
        if (c != static_cast<Char>(name[i - 1]))
            return false;
    }
    return IsOptionWord(word) && i == word.size() && !name[i - 1];
}

struct Reader {
    CommandLineResult result;

    bool Refuse(const std::string& message)
    {
        if (result.message.empty())
            result.message = message;
        return false;
    }

    // A number for its field: the field's messages, after the option and value.
    bool Number(const std::string& option, const std::string& value, unsigned int min, unsigned long long max,
                unsigned int* number)
    {
        UINT parsed = 0;
        if (!AfxParseUInt(value.c_str(), &parsed))
            return Refuse(option + " " + value + ": " + kAfxParseUIntMessage);
        if (parsed < min || parsed > max) {
            const UINT shownMax = max > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<UINT>(max);
            return Refuse(option + " " + value + ": " + AfxRangeMessage(min, shownMax));
        }
        *number = parsed;
        return true;
    }
};

} // namespace

CommandLineResult ParseCommandLine(const char* text, unsigned long long availableMB)
{
    Reader reader;
    CommandLineSettings& s = reader.result.settings;
    const std::vector<std::string> words = Words(text);
    // /run counts even in a refused command line: its refusal then goes to no message box.
    for (const std::string& word : words)
        s.run = s.run || NamesOption(word, "run");

    std::vector<std::string> seen;
    std::string minutesText;
    bool ok = true;
    for (size_t i = 0; ok && i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!IsOptionWord(word)) {
            ok = reader.Refuse("Unknown option " + word + ". /? lists the options.");
            break;
        }
        const std::string name = Lower(word.substr(1));
        const std::string option = "/" + name;
        const bool known = name == "?" || name == "run" || name == "threads" || name == "memory" || name == "hours" ||
                           name == "minutes" || name == "interval" || name == "load" || name == "result" ||
                           name == "kernel";
        if (!known) {
            ok = reader.Refuse("Unknown option " + word + ". /? lists the options.");
            break;
        }
        for (const std::string& earlier : seen)
            if (earlier == name)
                ok = reader.Refuse("The option " + option + " is given twice.");
        seen.push_back(name);
        if (!ok)
            break;
        if (name == "?") {
            s.help = true;
            continue;
        }
        if (name == "run")
            continue;
        if (i + 1 >= words.size() || IsOptionWord(words[i + 1])) {
            ok = reader.Refuse("The option " + option + " needs a value.");
            break;
        }
        const std::string value = words[++i];
        const std::string lower = Lower(value);
        if (name == "threads") {
            s.hasThreads = true;
            s.threads = lower == "all" || lower == "each" ? lower : value;
        } else if (name == "memory") {
            s.hasMemory = true;
            if (lower != "max")
                ok = reader.Number(option, value, kMinMemoryMB, availableMB, &s.memoryMB);
        } else if (name == "hours") {
            s.hasHours = true;
            ok = reader.Number(option, value, kHoursRange.min, kHoursRange.max, &s.hours);
        } else if (name == "minutes") {
            // Its range waits for the hours.
            s.hasMinutes = true;
            minutesText = value;
            ok = reader.Number(option, value, 0, 0xFFFFFFFFu, &s.minutes);
        } else if (name == "interval") {
            s.hasInterval = true;
            ok = reader.Number(option, value, kLogIntervalRange.min, kLogIntervalRange.max, &s.interval);
        } else if (name == "result") {
            s.hasResult = true;
            s.result = value;
        } else if (name == "kernel") {
            s.hasKernel = true;
            const std::string refusal = KernelOptionMessage(value, AvailableKernelLoads(), &s.kernelMask);
            if (!refusal.empty())
                ok = reader.Refuse(refusal);
        } else {   // load
            s.hasLoad = true;
            s.load = lower == "on";
            if (lower != "on" && lower != "off")
                ok = reader.Refuse(option + " " + value + ": Please enter on or off.");
        }
    }
    // The minutes' lower bound depends on the hours, given or the dialog's.
    if (ok && s.hasMinutes) {
        const FieldRange minutes = MinutesRange(s.hasHours ? s.hours : kDefaultHours);
        ok = reader.Number("/minutes", minutesText, minutes.min, minutes.max, &s.minutes);
    }
    reader.result.accepted = ok;
    return reader.result;
}

bool FindOptionValue(const wchar_t* arguments, const char* name, std::wstring* value)
{
    const std::vector<std::wstring> words = Words(arguments);
    for (size_t i = 0; i < words.size(); ++i) {
        if (!NamesOption(words[i], name))
            continue;
        if (i + 1 >= words.size() || IsOptionWord(words[i + 1]))
            return false;
        *value = words[i + 1];
        return true;
    }
    return false;
}

const wchar_t* ArgumentsOf(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine ? commandLine : L"";
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {
        }
        if (*p)
            ++p;
    }
    for (; *p && *p != L' ' && *p != L'\t'; ++p) {
    }
    for (; *p == L' ' || *p == L'\t'; ++p) {
    }
    return p;
}

std::string ThreadOptionValue(const std::string& item)
{
    if (item.compare(0, 3, "All") == 0)
        return "all";
    if (item.compare(0, 9, "Each core") == 0)
        return "each";
    return item;
}

std::string ThreadValueMessage(const std::string& value, const std::vector<std::string>& items)
{
    std::string choices;
    for (const std::string& item : items)
        choices += (choices.empty() ? "" : ", ") + ThreadOptionValue(item);
    return "/threads " + value + ": Please choose one of " + choices + ".";
}

std::string KernelOptionMessage(const std::string& value, unsigned int available, unsigned int* mask)
{
    unsigned int named = 0;
    bool all = false;
    for (size_t begin = 0; begin <= value.size();) {
        size_t end = value.find(',', begin);
        if (end == std::string::npos)
            end = value.size();
        const std::string name = Lower(value.substr(begin, end - begin));
        unsigned int load = 0;
        while (load < kLoadCount && name != KernelLoadName(load))
            ++load;
        if (name == "all") {
            all = true;
        } else if (load < kLoadCount) {
            named |= KernelLoadBit(load);
        } else {
            std::string choices;
            for (unsigned int each = 0; each < kLoadCount; ++each)
                choices += std::string(KernelLoadName(each)) + ", ";
            return "/kernel " + value + ": Please choose from " + choices + "or all, separated by commas.";
        }
        begin = end + 1;
    }
    const unsigned int asked = all ? kAllLoads : named;
    if ((asked & available) == 0) {
        std::string lacked;
        for (unsigned int load = 0, left = asked; load < kLoadCount; ++load) {
            if (!(asked & KernelLoadBit(load)))
                continue;
            left &= ~KernelLoadBit(load);
            lacked += std::string(lacked.empty() ? "" : left ? ", " : " and ") + KernelLoadName(load);
        }
        return "/kernel " + value + ": This processor lacks " + lacked + ". Please choose another load, or all.";
    }
    *mask = all ? 0 : named;
    return "";
}
