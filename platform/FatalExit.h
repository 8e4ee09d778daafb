// Ends the process at once for failures that leave nothing sensible to do (memory exhausted,
// a system function missing), without a message box: the updater often runs as SYSTEM where
// nobody could answer one. Any thread.
#pragma once

#include <windows.h>

// Writes one last line somewhere lasting without allocating: the log, once it is open.
using FatalLineWriter = void (*)(const wchar_t* line);

// Where ExitForFatalFailure writes its line; null (the start) writes nothing. Set by the log
// when it opens, on the main thread before any other thread exists.
void SetFatalLineWriter(FatalLineWriter writer);

// Writes line through the fatal line writer, then ends the process with exitCode. No
// destructor, handler or DLL notification runs afterwards: the log's lines are already on
// disk, and the working folder of a run stays behind.
[[noreturn]] void ExitForFatalFailure(const wchar_t* line, UINT exitCode);
