#include "support/Support.h"

#include <tlhelp32.h>

#include <fstream>
#include <iterator>

TestDirectory::TestDirectory()
{
    char text[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, text);
    previous_ = text;
    GetTempPathA(MAX_PATH, text);
    static unsigned counter = 0;
    do {
        path_ = std::string(text) + "bw-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
    } while (!CreateDirectoryA(path_.c_str(), nullptr));
    SetCurrentDirectoryA(path_.c_str());
}

TestDirectory::~TestDirectory()
{
    SetCurrentDirectoryA(previous_.c_str());
    const std::string log = path_ + "\\Burnwright.log";
    DeleteFileA(log.c_str());
    RemoveDirectoryA(log.c_str());
    RemoveDirectoryA(path_.c_str());
}

std::string TestDirectory::ReadLog() const
{
    std::ifstream in(path_ + "\\Burnwright.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TestDirectory::WriteLog(const std::string& bytes) const
{
    std::ofstream(path_ + "\\Burnwright.log", std::ios::binary) << bytes;
}

std::vector<std::string> LogLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < bytes.size(); start = end + 2) {
        end = bytes.find("\r\n", start);
        lines.push_back(bytes.substr(start, end - start));
        if (end == std::string::npos)
            break;
    }
    return lines;
}

std::vector<std::string> Messages(const std::string& bytes)
{
    std::vector<std::string> messages;
    for (const std::string& line : LogLines(bytes))
        messages.push_back(line.size() >= 22 ? line.substr(22) : line);
    return messages;
}

// Calls visit(thread id) for each thread of the process.
template <class Visit>
void ForEachThread(HANDLE process, Visit visit)
{
    const DWORD id = GetProcessId(process);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == id)
            visit(entry.th32ThreadID);
    CloseHandle(snapshot);
}

std::vector<GROUP_AFFINITY> ThreadAffinities(HANDLE process)
{
    std::vector<GROUP_AFFINITY> affinities;
    ForEachThread(process, [&](DWORD id) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        GROUP_AFFINITY affinity = {};
        if (thread && GetThreadGroupAffinity(thread, &affinity))
            affinities.push_back(affinity);
        if (thread)
            CloseHandle(thread);
    });
    return affinities;
}

ProcessCounters ReadProcessCounters(HANDLE process)
{
    ProcessCounters counters;
    ForEachThread(process, [&](DWORD) { ++counters.threads; });
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = reinterpret_cast<const char*>(0x10000);
         VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            counters.committed += region.RegionSize;
    }
    return counters;
}
