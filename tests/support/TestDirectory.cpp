#include "support/TestDirectory.h"

#include <windows.h>

#include <cstdio>

namespace {

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string full = dir + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(dir.c_str());
}

} // namespace

TestDirectory::TestDirectory()
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    previous_ = current;

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sbw-%lu-%lu-%u", temp, GetCurrentProcessId(),
                      GetTickCount(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            break;
        }
    }
    SetCurrentDirectoryA(path_.c_str());
}

TestDirectory::~TestDirectory()
{
    SetCurrentDirectoryA(previous_.c_str());
    RemoveTree(path_);
}

std::string TestDirectory::ReadFile(const char* name) const
{
    std::string bytes;
    FILE* file = std::fopen((path_ + "\\" + name).c_str(), "rb");
    if (!file)
        return bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

void TestDirectory::WriteFile(const std::string& bytes, const char* name) const
{
    FILE* file = std::fopen((path_ + "\\" + name).c_str(), "wb");
    if (!file)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

bool TestDirectory::Exists(const char* name) const
{
    return GetFileAttributesA((path_ + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}
