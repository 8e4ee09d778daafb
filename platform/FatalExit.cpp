// The process's end for failures after which no code of its own can be trusted to run: an
// allocation that failed (another one might fail inside any clean-up), a DLL export that is
// missing. TerminateProcess rather than ExitProcess: with another thread possibly holding the
// heap's lock, DLL notifications could hang the process instead of ending it.
#include "FatalExit.h"

namespace {

FatalLineWriter lineWriter = nullptr;

}  // namespace

void SetFatalLineWriter(FatalLineWriter writer)
{
    lineWriter = writer;
}

void ExitForFatalFailure(const wchar_t* line, UINT exitCode)
{
    if (lineWriter != nullptr)
        lineWriter(line);
    TerminateProcess(GetCurrentProcess(), exitCode);
    ExitProcess(exitCode);
}
