// DLL search restriction and loading from the system folder; the restriction is made once,
// first thing on the main thread, and only read afterwards.
#include "SystemLibraries.h"

#include <string>

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
