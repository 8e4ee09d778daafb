// The signs Windows keeps of a restart it is waiting for: files to replace at the next start,
// servicing to finish, updates to complete. Read from the registry; any thread.
#pragma once

#include <cstdint>

enum PendingRestartSign : uint32_t {
    PendingFileRenames = 1,    // Session Manager's PendingFileRenameOperations names files
    ComponentServicing = 2,    // Component Based Servicing waits for a restart
    WindowsUpdateRestart = 4,  // Windows Update waits for a restart
};

struct PendingRestartSignName {
    PendingRestartSign sign;
    const char* resultName;  // as the result file names it
    const wchar_t* logName;  // as the log names it
};
extern const PendingRestartSignName pendingRestartSignNames[3];

// The signs present now, as a set of PendingRestartSign bits; 0 when none is.
uint32_t ReadPendingRestartSigns();
