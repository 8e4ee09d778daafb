// The checks between an update run's reading and its first change: whether Windows waits for
// a restart already, whether Windows Installer still has the cached copies it will need, and
// the wait (-w) for another installation to end. Run's thread.
#pragma once

#include <cstdint>

#include "RunContext.h"
#include "RunRecord.h"
#include "UpdatePlan.h"
#include "UpdateProgress.h"

// Records and logs the signs of a restart that Windows waits for; the run goes on either way.
void RecordPendingRestart(RunRecord& record);

// Every installation with patches to apply must still have the cached copy of each patch that
// Windows Installer lists as applied to it, since applying another one reinstalls them all. 0,
// or ERROR_INSTALL_SOURCE_ABSENT after logging each copy that is gone (the installation's
// patches to apply get the status PackageCacheMissing). An installation whose patches or their
// copies' places cannot be read is logged and left to Windows Installer.
int CheckCachedPatches(RunRecord& record, const UpdatePlan& plan);

// Before a removal: every patch to remove must be removable, as Windows Installer registered it
// (MsiGetPatchInfoExW "Uninstallable" "1") and as the patch itself says (its MsiPatchMetadata
// AllowRemoval 1; a patch without one cannot be removed). 0; ERROR_PATCH_REMOVAL_UNSUPPORTED
// after logging each one that is not (status NotRemovable), when nothing may be changed; 1
// after logging that a carried patch cannot be read.
int CheckRemovable(RunContext& run, const UpdatePlan& plan);

// Waits up to seconds, with a status line and a log line, while another installation holds
// Windows Installer's execution mutex. 0 at once for 0 seconds or no such installation, and
// once it has ended; ERROR_INSTALL_ALREADY_RUNNING after logging that it still runs.
int WaitForOtherInstallation(RunRecord& record, const UpdateProgress& progress, uint32_t seconds);
