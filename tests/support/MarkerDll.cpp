// A DLL that records its own loading: when a process attaches it, it creates an empty file
// named after itself with ".loaded" added, beside itself (version.dll leaves version.dll.loaded).
// Copies of it are planted beside the updater under the names of system DLLs, so that a test
// can tell whether the updater, or a system DLL on its behalf, picked up a planted one.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcpyW(path + length, L".loaded");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    return TRUE;
}
