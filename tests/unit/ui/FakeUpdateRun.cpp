// The tests' update run, and the test binary's CoCreateGuid and _beginthreadex. The two system calls are
// reached through their import pointers, which are defined here so that the product code's
// calls land in these functions; they forward to the real ones unless told to fail.
#include "FakeUpdateRun.h"

#include <objbase.h>
#include <process.h>

#include "Folders.h"
#include "ImportSeam.h"

FakeUpdateRun fakeRun;
bool failGuids = false;
bool failThreads = false;

int FakeApplyUpdates(const wchar_t* folder, HWND window)
{
    ++fakeRun.calls;
    fakeRun.folder = folder;
    fakeRun.folderExisted = DirectoryExists(folder);
    fakeRun.window = window;
    return fakeRun.script ? fakeRun.script(folder, window) : 0;
}

namespace {

using CoCreateGuidFunction = HRESULT(WINAPI*)(GUID*);
using BeginThreadFunction = uintptr_t(__cdecl*)(void*, unsigned, _beginthreadex_proc_type, void*, unsigned,
                                                unsigned*);

HRESULT WINAPI FakeCoCreateGuid(GUID* guid)
{
    if (failGuids)
        return E_FAIL;
    static auto real = reinterpret_cast<CoCreateGuidFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ole32.dll"), "CoCreateGuid")));
    return real(guid);
}

uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stackSize, _beginthreadex_proc_type start,
                                    void* argument, unsigned flags, unsigned* threadId)
{
    if (failThreads)
        return 0;
    static auto real = reinterpret_cast<BeginThreadFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"msvcrt.dll"), "_beginthreadex")));
    return real(security, stackSize, start, argument, flags, threadId);
}

}  // namespace

extern "C" {
extern CoCreateGuidFunction fakeCoCreateGuidPointer __asm__(TV_IMPORT_STDCALL(CoCreateGuid, 4));
CoCreateGuidFunction fakeCoCreateGuidPointer = FakeCoCreateGuid;
extern BeginThreadFunction fakeBeginThreadPointer __asm__(TV_IMPORT_CDECL(_beginthreadex));
BeginThreadFunction fakeBeginThreadPointer = FakeBeginThreadEx;
}

static const bool seamsInPlace =
    RequireSeam("ole32.dll", "CoCreateGuid") &&
    RequireSeam("msvcrt.dll", "_beginthreadex");
