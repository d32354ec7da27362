#pragma once
#include <windows.h>

#include "log/LogHistory.h"

// Appends "MM/DD/YYYY, hh:mm:ss, message" to the log and shows it in the log view.
// A line that cannot be written is dropped silently; messages beyond 77
// characters are cut so that a line never exceeds 99 characters.
void WriteLog(const char* message);

// The local time of the last line WriteLog was asked for, written or not, and
// the last line it wrote to the file, without its line end ("" before the first).
SYSTEMTIME LastLogTime();
const char* LastLogLine();

// From now on every line written is also written to this handle (a redirected
// standard output) as it is written: whole, with its CR LF, in one write.
// Null: to the file and the log view only.
void SetLogEcho(HANDLE output);
