// Whether the process may change what an update run changes.
#pragma once

// True when the process's token holds the Administrators group enabled (an elevated
// administrator; a filtered token of an administrator holds it for denying only) or is
// SYSTEM's. Any thread.
bool RunsAsAdministratorOrSystem();
