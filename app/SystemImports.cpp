// The program's imports from system DLLs other than kernel32 and the C runtime, bound at their
// first call rather than by the loader at process start. The loader would look for user32,
// shell32, ole32 and their dependencies before wWinMain could restrict the DLL search, and a
// loader that does not protect them as Windows' KnownDLLs does (Wine, where version.dll comes
// with user32) would then take a DLL planted beside the updater. Bound here, each DLL is loaded
// from the system folder once RestrictDllSearch has run, which is the first thing wWinMain does.
//
// Each function's import pointer (the one its dllimport declaration calls through) is defined
// here and first leads to a binder that loads the DLL, looks the function up, stores it in the
// pointer and forwards the call; later calls go straight to the function. Only the program
// links this file: test binaries keep ordinary imports and their link-time fakes.
// Windows Installer is delay-loaded by the toolchain's helper instead (msi.h has no
// dllimport); its notification hook below makes that load come from the system folder too.
#include <windows.h>
#include <delayimp.h>
#include <objbase.h>
#include <rpc.h>
#include <sddl.h>
#include <shellapi.h>

#include "StdcallArguments.h"
#include "SystemLibraries.h"

namespace {

// Assembler names of import pointers: 32-bit stdcall names carry a leading underscore and the
// size of the arguments, 64-bit names neither. The size typed into each name is checked
// against the function's declaration where it matters, in 32-bit builds.
#if defined(_WIN64)
#define IMPORT_POINTER(name, argumentBytes) "__imp_" #name
#define FUNCTION_SYMBOL(name, argumentBytes) #name
#define JUMP_THROUGH(pointer) "jmp *" pointer "(%rip)"
#define CHECK_ARGUMENT_BYTES(function, argumentBytes)
#else
#define IMPORT_POINTER(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#define FUNCTION_SYMBOL(name, argumentBytes) "_" #name "@" #argumentBytes
#define JUMP_THROUGH(pointer) "jmp *" pointer
#define CHECK_ARGUMENT_BYTES(function, argumentBytes)                                   \
    static_assert(StdcallArguments<decltype(&function)>::bytes == argumentBytes, \
                  "the argument size in " #function "'s import name does not match its declaration");
#endif

template <typename Function>
struct LazyImport;

template <typename Result, typename... Arguments>
struct LazyImport<Result(WINAPI*)(Arguments...)> {
    using Pointer = Result(WINAPI*)(Arguments...);

    template <Pointer* slot, const wchar_t* dll, const char* name>
    static Result WINAPI FirstCall(Arguments... arguments)
    {
        // Both threads may bind the same function at once; they store the same value.
        auto function = reinterpret_cast<Pointer>(reinterpret_cast<void*>(BindSystemFunction(dll, name)));
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(slot), reinterpret_cast<void*>(function));
        return function(arguments...);
    }
};

const wchar_t advapi32[] = L"advapi32.dll";
const wchar_t ole32[] = L"ole32.dll";
const wchar_t rpcrt4[] = L"rpcrt4.dll";
const wchar_t shell32[] = L"shell32.dll";
const wchar_t user32[] = L"user32.dll";

}  // namespace

// One import pointer per function the program calls, starting at its binder, and the
// function's own symbol as a jump through it, as an import library has. The program's code
// calls through the pointer; the symbol is there for the link-time optimisation, whose first
// look at the program names the functions themselves, so that no import library's member is
// taken for them.
#define SYSTEM_IMPORT(dll, function, argumentBytes)                                                     \
    CHECK_ARGUMENT_BYTES(function, argumentBytes)                                                      \
    static const char function##Name[] = #function;                                                  \
    extern "C" decltype(&function) function##Pointer __asm__(IMPORT_POINTER(function, argumentBytes)); \
    decltype(&function) function##Pointer =                                                          \
        &LazyImport<decltype(&function)>::FirstCall<&function##Pointer, dll, function##Name>;         \
    __asm__(".text\n.globl " FUNCTION_SYMBOL(function, argumentBytes) "\n" FUNCTION_SYMBOL(function, argumentBytes) \
            ":\n\t" JUMP_THROUGH(IMPORT_POINTER(function, argumentBytes)) "\n");

SYSTEM_IMPORT(advapi32, AdjustTokenPrivileges, 24)
SYSTEM_IMPORT(advapi32, CheckTokenMembership, 12)
SYSTEM_IMPORT(advapi32, ConvertSidToStringSidW, 8)
SYSTEM_IMPORT(advapi32, ConvertStringSecurityDescriptorToSecurityDescriptorW, 16)
SYSTEM_IMPORT(advapi32, CreateWellKnownSid, 16)
SYSTEM_IMPORT(advapi32, GetTokenInformation, 20)
SYSTEM_IMPORT(advapi32, LookupPrivilegeValueW, 12)
SYSTEM_IMPORT(advapi32, OpenProcessToken, 12)

SYSTEM_IMPORT(ole32, CoCreateGuid, 4)
SYSTEM_IMPORT(ole32, CoInitializeEx, 8)
SYSTEM_IMPORT(ole32, CoUninitialize, 0)

SYSTEM_IMPORT(rpcrt4, RpcStringFreeW, 4)
SYSTEM_IMPORT(rpcrt4, UuidToStringW, 8)

SYSTEM_IMPORT(shell32, CommandLineToArgvW, 8)

SYSTEM_IMPORT(user32, AppendMenuW, 16)
SYSTEM_IMPORT(user32, CreateDialogParamW, 20)
SYSTEM_IMPORT(user32, DestroyWindow, 4)
SYSTEM_IMPORT(user32, DialogBoxParamW, 20)
SYSTEM_IMPORT(user32, DispatchMessageW, 4)
SYSTEM_IMPORT(user32, EnableWindow, 8)
SYSTEM_IMPORT(user32, EndDialog, 8)
SYSTEM_IMPORT(user32, ExitWindowsEx, 8)
SYSTEM_IMPORT(user32, GetDesktopWindow, 0)
SYSTEM_IMPORT(user32, GetDlgItem, 8)
SYSTEM_IMPORT(user32, GetMessageW, 16)
SYSTEM_IMPORT(user32, GetParent, 4)
SYSTEM_IMPORT(user32, GetSystemMenu, 8)
SYSTEM_IMPORT(user32, GetWindowRect, 8)
SYSTEM_IMPORT(user32, IsDialogMessageW, 8)
SYSTEM_IMPORT(user32, IsWindow, 4)
SYSTEM_IMPORT(user32, LoadIconW, 8)
SYSTEM_IMPORT(user32, LoadStringW, 16)
SYSTEM_IMPORT(user32, MessageBoxW, 16)
SYSTEM_IMPORT(user32, PostQuitMessage, 4)
SYSTEM_IMPORT(user32, SendMessageW, 16)
SYSTEM_IMPORT(user32, SetDlgItemTextW, 12)
SYSTEM_IMPORT(user32, SetWindowPos, 28)
SYSTEM_IMPORT(user32, ShowWindow, 8)
SYSTEM_IMPORT(user32, TranslateMessage, 4)
#if defined(_WIN64)
SYSTEM_IMPORT(user32, GetWindowLongPtrW, 16)
SYSTEM_IMPORT(user32, SetWindowLongPtrW, 16)
#else
SYSTEM_IMPORT(user32, GetWindowLongW, 8)
SYSTEM_IMPORT(user32, SetWindowLongW, 12)
#endif

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
