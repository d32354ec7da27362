#pragma once
#include <windows.h>

#include "log/LogHistory.h"

// Appends "MM/DD/YYYY, hh:mm:ss, message" to the log and shows it in the log view.
// A line that cannot be written is dropped silently; messages beyond 77
// characters are cut so that a line never exceeds 99 characters.
void WriteLog(const char* message);

// The local time and the text of the last line WriteLog was asked for, written
// to the file or not, without its line end ("" before the first).
SYSTEMTIME LastLogTime();
const char* LastLogLine();

// Where each line that reached the file is shown as well (the log view): called
// with the line, without its line end, after it is on disk. Null: nowhere.
typedef void (*LogSink)(void* context, const char* line);
void SetLogSink(LogSink sink, void* context);

// From now on every line is also written to this handle (a redirected standard
// output) as it is written, whether the file takes it or not: whole, with its
// CR LF, in one write.
// Null: to the file and the log view only.
void SetLogEcho(HANDLE output);
