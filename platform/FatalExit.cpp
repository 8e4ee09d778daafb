// The process's end for failures after which no code of its own can be trusted to run: an
// allocation that failed (another one might fail inside any clean-up), a DLL export that is
// missing. TerminateProcess rather than ExitProcess: with another thread possibly holding the
// heap's lock, DLL notifications could hang the process instead of ending it.
#include "FatalExit.h"

#include "Log.h"

void ExitForFatalFailure(const wchar_t* line, UINT exitCode)
{
    LogMessageWithoutAllocation(line);
    TerminateProcess(GetCurrentProcess(), exitCode);
    ExitProcess(exitCode);
}
