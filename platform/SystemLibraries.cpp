// DLL search restriction and loading from the system folder; the restriction is made once,
// first thing on the main thread, and only read afterwards.
#include "SystemLibraries.h"

#include <strsafe.h>

#include <string>

#include "FatalExit.h"

namespace {

bool searchRestricted = false;

}  // namespace

void RestrictDllSearch()
{
    // Looked up rather than imported: a missing export would stop the program from starting.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        kernel != nullptr ? reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")) : nullptr);
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        searchRestricted = true;
        return;
    }
    // The program's own folder stays in this search; LoadSystemLibrary gives full paths.
    SetDllDirectoryW(L"");
}

bool DllSearchRestricted()
{
    return searchRestricted;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    if (searchRestricted)
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);

    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(system, length);
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    // The altered search path makes the DLL's own dependencies come from the system folder
    // too, not from the program's folder.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void ExitForMissingSystemFunction(const wchar_t* dll, const char* name)
{
    // Export names are ASCII; widened by hand so that nothing here allocates.
    wchar_t function[128] = L"";
    size_t i = 0;
    for (; name != nullptr && name[i] != '\0' && i + 1 < ARRAYSIZE(function); ++i)
        function[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    function[i] = L'\0';
    wchar_t line[512];
    if (name != nullptr)
        StringCchPrintfW(line, ARRAYSIZE(line), L"The system function %s of %s could not be bound.", function, dll);
    else
        StringCchPrintfW(line, ARRAYSIZE(line), L"The system library %s could not be loaded.", dll);
    ExitForFatalFailure(line, ERROR_PROC_NOT_FOUND);
}
