// The restart at the end of an update run, on the worker thread. Owns the process token
// only for the length of the call.
#include "RestartSystem.h"

#include <windows.h>

#include "UniqueHandle.h"

void RestartSystem()
{
    KernelHandle token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        TOKEN_PRIVILEGES privileges{};
        if (LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            // Without the privilege the restart request below simply fails; nothing to
            // report, so the result is not looked at.
            AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    token.reset();

    // Asked for even when the privilege could not be enabled: Windows then refuses on its
    // own, and there is nobody left to tell.
    ExitWindowsEx(EWX_REBOOT,
                  SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE);
}
