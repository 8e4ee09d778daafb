// The tests' update run, and the test binary's CoCreateGuid, _beginthreadex and
// CheckTokenMembership. The system calls are
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
bool notElevated = false;

int FakeApplyUpdates(const wchar_t* folder, const UpdateProgress& progress)
{
    ++fakeRun.calls;
    fakeRun.folder = folder;
    fakeRun.folderExisted = DirectoryExists(folder);
    if (progress.showStatus != nullptr && progress.confirmRestart != nullptr)
        fakeRun.watcher = progress.watcher;
    return fakeRun.script ? fakeRun.script(folder, progress) : 0;
}

void ShowStatus(const UpdateProgress& progress, const std::wstring& text)
{
    std::wstring buffer = text;
    progress.ShowStatus(buffer.c_str());
    buffer.assign(buffer.size(), L'#');
}

namespace {

using CoCreateGuidFunction = HRESULT(WINAPI*)(GUID*);
using BeginThreadFunction = uintptr_t(__cdecl*)(void*, unsigned, _beginthreadex_proc_type, void*, unsigned, unsigned*);

HRESULT WINAPI FakeCoCreateGuid(GUID* guid)
{
    if (failGuids)
        return E_FAIL;
    static auto real = reinterpret_cast<CoCreateGuidFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ole32.dll"), "CoCreateGuid")));
    return real(guid);
}

uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stackSize, _beginthreadex_proc_type start, void* argument,
                                    unsigned flags, unsigned* threadId)
{
    if (failThreads)
        return 0;
    static auto real = reinterpret_cast<BeginThreadFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"msvcrt.dll"), "_beginthreadex")));
    return real(security, stackSize, start, argument, flags, threadId);
}

using CheckTokenMembershipFunction = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);

BOOL WINAPI FakeCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember)
{
    if (notElevated) {
        *isMember = FALSE;
        return TRUE;
    }
    static auto real = reinterpret_cast<CheckTokenMembershipFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"advapi32.dll"), "CheckTokenMembership")));
    return real(token, sid, isMember);
}

}  // namespace

extern "C" {
extern CheckTokenMembershipFunction fakeCheckTokenMembershipPointer __asm__(TV_IMPORT_STDCALL(CheckTokenMembership,
                                                                                              12));
CheckTokenMembershipFunction fakeCheckTokenMembershipPointer = FakeCheckTokenMembership;
extern CoCreateGuidFunction fakeCoCreateGuidPointer __asm__(TV_IMPORT_STDCALL(CoCreateGuid, 4));
CoCreateGuidFunction fakeCoCreateGuidPointer = FakeCoCreateGuid;
extern BeginThreadFunction fakeBeginThreadPointer __asm__(TV_IMPORT_CDECL(_beginthreadex));
BeginThreadFunction fakeBeginThreadPointer = FakeBeginThreadEx;
}

static const bool seamsInPlace = RequireSeam("advapi32.dll", "CheckTokenMembership") &&
                                 RequireSeam("ole32.dll", "CoCreateGuid") &&
                                 RequireSeam("msvcrt.dll", "_beginthreadex");
