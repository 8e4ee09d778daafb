// Ends the process at once for failures that leave nothing sensible to do (memory exhausted,
// a system function missing), without a message box: the updater often runs as SYSTEM where
// nobody could answer one. Any thread.
#pragma once

#include <windows.h>

// Writes line to the log when logging is on (without allocating), then ends the process with
// exitCode. No destructor, handler or DLL notification runs afterwards: the log's lines are
// already on disk, and the working folder of a run stays behind.
[[noreturn]] void ExitForFatalFailure(const wchar_t* line, UINT exitCode);
