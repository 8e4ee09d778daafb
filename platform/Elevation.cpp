// The elevation check at the start of an update run. Without it, a run whose elevation was
// refused or bypassed would create the protected working folder, fail to write into it and
// fail to remove it, and say only that an update file could not be created.
#include "Elevation.h"

#include <windows.h>

bool RunsAsAdministratorOrSystem()
{
    const WELL_KNOWN_SID_TYPE accepted[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (WELL_KNOWN_SID_TYPE type : accepted) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        BOOL member = FALSE;
        if (!CreateWellKnownSid(type, nullptr, sid, &size))
            continue;
        // No token: the thread's own, or a copy of the process's when it impersonates nobody.
        if (CheckTokenMembership(nullptr, sid, &member) && member)
            return true;
    }
    return false;
}
