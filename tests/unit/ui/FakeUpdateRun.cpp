// The tests' run, and the test binary's _beginthreadex, reached through its import pointer,
// which is defined here so that the product code's call lands in this function; it forwards to
// the real one unless told to fail.
#include "FakeUpdateRun.h"

#include <process.h>

#include "AppState.h"
#include "ImportSeam.h"
#include "RunRecord.h"

FakeUpdateRun fakeRun;
bool failThreads = false;

namespace {

RunEnd Start(void*, const UpdateProgress& progress)
{
    ++fakeRun.calls;
    if (progress.showStatus != nullptr && progress.confirmRestart != nullptr)
        fakeRun.watcher = progress.watcher;
    int result = fakeRun.script ? fakeRun.script(progress) : 0;
    return RunEnd{RunSucceeded(result), RunExitCode(appState.runMode, result)};
}

RunEnd NotStarted(void*, unsigned long)
{
    ++fakeRun.notStartedCalls;
    return RunEnd{false, RunExitCode(appState.runMode, 1)};
}

using BeginThreadFunction = uintptr_t(__cdecl*)(void*, unsigned, _beginthreadex_proc_type, void*, unsigned, unsigned*);

uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stackSize, _beginthreadex_proc_type start, void* argument,
                                    unsigned flags, unsigned* threadId)
{
    if (failThreads)
        return 0;
    static auto real = reinterpret_cast<BeginThreadFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"msvcrt.dll"), "_beginthreadex")));
    return real(security, stackSize, start, argument, flags, threadId);
}

}  // namespace

RunStarter FakeRunStarter()
{
    RunStarter starter;
    starter.start = Start;
    starter.notStarted = NotStarted;
    return starter;
}

void ShowStatus(const UpdateProgress& progress, const std::wstring& text)
{
    std::wstring buffer = text;
    progress.ShowStatus(buffer.c_str());
    buffer.assign(buffer.size(), L'#');
}

extern "C" {
extern BeginThreadFunction fakeBeginThreadPointer __asm__(TV_IMPORT_CDECL(_beginthreadex));
BeginThreadFunction fakeBeginThreadPointer = FakeBeginThreadEx;
}

static const bool seamsInPlace = RequireSeam("msvcrt.dll", "_beginthreadex");
