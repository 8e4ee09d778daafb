// The delay-load hooks. Every system DLL but kernel32 and the C runtime is delay-loaded (see
// cmake/UpdaterImage.cmake): the loader would otherwise look for user32, shell32, ole32 and
// their dependencies before wWinMain could restrict the DLL search, and a loader that does not
// protect them as Windows' KnownDLLs does (Wine, where version.dll comes with user32) would
// then take a DLL planted beside the updater. The toolchain's delay-load helper loads each DLL
// at the first call of one of its functions, after RestrictDllSearch has run (the first thing
// wWinMain does), and asks these hooks first: each DLL comes from the system folder, and a DLL
// or function that cannot be had ends the process with a log line instead of an exception.
// Only the program links this file: test binaries keep ordinary imports and their link-time
// fakes.
#include <windows.h>
#include <delayimp.h>

#include "SystemLibraries.h"

// The delay-load helper asks this hook before it loads a DLL by its bare name, which outside
// a restricted search would start in the program's own folder.
static FARPROC WINAPI LoadDelayedLibrary(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr)
        return nullptr;
    wchar_t name[MAX_PATH];
    int length = MultiByteToWideChar(CP_ACP, 0, info->szDll, -1, name, MAX_PATH);
    if (length == 0)
        return nullptr;
    HMODULE module = LoadSystemLibrary(name);
    // Given nothing, the helper would load the bare name itself, which is safe only in a
    // restricted search.
    if (module == nullptr && !DllSearchRestricted())
        ExitForMissingSystemFunction(name, nullptr);
    return reinterpret_cast<FARPROC>(module);
}

// Without this hook the helper would raise an exception that nothing catches, which ends in a
// crash report that waits for somebody to close it.
static FARPROC WINAPI DelayLoadFailed(unsigned notification, PDelayLoadInfo info)
{
    wchar_t dll[MAX_PATH] = L"msi.dll";
    if (info != nullptr && info->szDll != nullptr)
        MultiByteToWideChar(CP_ACP, 0, info->szDll, -1, dll, MAX_PATH);
    const char* function = nullptr;
    if (notification == dliFailGetProc && info != nullptr && info->dlp.fImportByName)
        function = info->dlp.szProcName;
    else if (notification == dliFailGetProc)
        function = "(by ordinal)";
    ExitForMissingSystemFunction(dll, function);
}

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedLibrary;
PfnDliHook __pfnDliFailureHook2 = DelayLoadFailed;
}
