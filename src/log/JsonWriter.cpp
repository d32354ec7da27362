#include "log/JsonWriter.h"

#include <cstdio>

void JsonWriter::NewLine()
{
    text_ += '\n';
    text_.append(2 * empty_.size(), ' ');
}

void JsonWriter::Value(const std::string& json)
{
    if (!afterKey_ && !empty_.empty()) {
        if (!empty_.back())
            text_ += ',';
        NewLine();
    }
    if (!empty_.empty())
        empty_.back() = false;
    afterKey_ = false;
    text_ += json;
    if (empty_.empty())
        text_ += '\n';
}

void JsonWriter::Open(char bracket)
{
    Value(std::string(1, bracket));
    if (empty_.empty() && !text_.empty())
        text_.pop_back();   // the value is still open
    empty_.push_back(true);
}

void JsonWriter::Close(char bracket)
{
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty)
        NewLine();
    text_ += bracket;
    if (empty_.empty())
        text_ += '\n';
}

void JsonWriter::Key(const char* name)
{
    Value(JsonQuoted(name) + ": ");
    afterKey_ = true;
}

void JsonWriter::String(const std::string& utf8)
{
    Value(JsonQuoted(utf8));
}

void JsonWriter::Number(unsigned long long value)
{
    Value(std::to_string(value));
}

void JsonWriter::Number(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Value(text);
}

void JsonWriter::Bool(bool value)
{
    Value(value ? "true" : "false");
}

void JsonWriter::Null()
{
    Value("null");
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8SequenceLength(const std::string& text, size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned int code = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07, least = 0x10000;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= least && code <= 0x10FFFF && !surrogate ? length : 0;
}

} // namespace

std::string JsonQuoted(const std::string& utf8)
{
    std::string quoted = "\"";
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(utf8, i);
            quoted += length ? utf8.substr(i, length) : "\xEF\xBF\xBD";
            i += length ? length : 1;
            continue;
        }
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
        ++i;
    }
    return quoted + "\"";
}

std::string Utf8FromWide(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                            nullptr);
    return utf8;
}

std::wstring WideFromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string SystemErrorText(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "Error %lu.", static_cast<unsigned long>(error));
        return code;
    }
    return Utf8FromWide(text);
}

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
