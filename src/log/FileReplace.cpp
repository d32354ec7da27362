#include "log/FileReplace.h"

#include "log/TextConversion.h"

std::wstring FullPath(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (path.empty() || size == 0)
        return std::wstring();
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return full;
}

namespace {

const int kMoveAttempts = 40;
const DWORD kMoveRetryMs = 50;

std::wstring FolderOf(const std::wstring& fullPath)
{
    const size_t slash = fullPath.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : fullPath.substr(0, slash + 1);
}

// A new, empty file of a unique name in the folder (empty when none could be made).
std::wstring NewTemporaryFile(const std::wstring& folder, DWORD* error)
{
    wchar_t name[MAX_PATH + 16];
    if (GetTempFileNameW(folder.c_str(), L"bwr", 0, name) == 0) {
        *error = GetLastError();
        return std::wstring();
    }
    return name;
}

// What keeps a file at the full path from being replaced, as far as its
// attributes tell ("" : nothing). Some systems would move a file over a read-only one.
std::string TargetProblem(const std::wstring& full)
{
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "This is a folder, not a file.";
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return "The file is read-only.";
    return std::string();
}

// FILE's full path and a new temporary file in its folder, or why there can be none.
std::string PrepareReplacement(const std::wstring& path, std::wstring* full, std::wstring* temporary)
{
    if (path.empty())
        return "No file is named.";
    *full = FullPath(path);
    if (full->empty())
        return SystemErrorText(GetLastError());
    const std::string problem = TargetProblem(*full);
    if (!problem.empty())
        return problem;
    DWORD error = 0;
    *temporary = NewTemporaryFile(FolderOf(*full), &error);
    return temporary->empty() ? SystemErrorText(error) : std::string();
}

} // namespace

std::string CheckReplaceable(const std::wstring& path)
{
    std::wstring full, temporary;
    const std::string problem = PrepareReplacement(path, &full, &temporary);
    if (problem.empty())
        DeleteFileW(temporary.c_str());
    return problem;
}

std::string ReplaceFileWhole(const std::wstring& path, const std::string& bytes)
{
    std::wstring full, temporary;
    const std::string problem = PrepareReplacement(path, &full, &temporary);
    if (!problem.empty())
        return problem;
    DWORD error = 0;
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file);
    error = ok ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {
        ok = false;
        error = GetLastError();
    }
    // A reader that holds the file for a moment keeps it from being replaced: try again a while.
    for (int attempt = 0; ok && !MoveFileExW(temporary.c_str(), full.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); ++attempt) {
        error = GetLastError();
        ok = attempt < kMoveAttempts && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION);
        if (ok)
            Sleep(kMoveRetryMs);
    }
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return SystemErrorText(error);
    }
    return std::string();
}
