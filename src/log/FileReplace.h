#pragma once
#include <windows.h>

#include <string>

// `path` made full against the current directory (empty when it cannot be).
std::wstring FullPath(const std::wstring& path);

// Whether a file can be written whole at `path`: "" when it can, else why not.
// Leaves nothing behind.
std::string CheckReplaceable(const std::wstring& path);

// Writes the bytes to a new file in path's folder and moves it over `path`, so
// that a reader finds the former file or the new one, never part of either.
// "" on success, else why not (and no temporary file is left).
std::string ReplaceFileWhole(const std::wstring& path, const std::string& bytes);
