// Reading the pending-restart signs. Always the registry's 64-bit view: the x86 build on 64-bit
// Windows would otherwise read the redirected copies of the SOFTWARE keys, which Windows does not
// write these signs to.
#include "PendingRestart.h"

#include <windows.h>

const PendingRestartSignName pendingRestartSignNames[3] = {
    {PendingFileRenames, "file-renames", L"files to replace (PendingFileRenameOperations)"},
    {ComponentServicing, "component-servicing", L"Component Based Servicing"},
    {WindowsUpdateRestart, "windows-update", L"Windows Update"},
};

namespace {

const REGSAM readAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

bool KeyExists(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, readAccess, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// True when the multi-string value names at least one file: more than fits the buffer, or a
// first string that is not empty.
bool NamesFiles(HKEY key, const wchar_t* value)
{
    wchar_t start[4] = {};
    DWORD size = sizeof(start);
    LONG result = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(start), &size);
    return result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && size >= sizeof(wchar_t) && start[0] != L'\0');
}

}  // namespace

uint32_t ReadPendingRestartSigns()
{
    uint32_t signs = 0;
    HKEY sessionManager = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, readAccess,
                      &sessionManager) == ERROR_SUCCESS) {
        if (NamesFiles(sessionManager, L"PendingFileRenameOperations") ||
            NamesFiles(sessionManager, L"PendingFileRenameOperations2"))
            signs |= PendingFileRenames;
        RegCloseKey(sessionManager);
    }
    if (KeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending"))
        signs |= ComponentServicing;
    if (KeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired"))
        signs |= WindowsUpdateRestart;
    return signs;
}
