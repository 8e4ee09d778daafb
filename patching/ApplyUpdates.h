// The whole update run, on the worker thread: extract the carried patches into folder,
// find their installed target products, have Windows Installer order each one's patches, apply
// them in one Windows Installer transaction (64-bit products first) and offer a restart when a
// patch asks for one. Installations whose package or patch runs a restart action, which
// Windows Installer refuses inside a transaction, are patched after it, each on its own; where
// rollback is disabled and Windows Installer keeps no transaction, every installation is.
#pragma once

#include "RunContext.h"
#include "UpdateProgress.h"

// The run's result, in the codes that msiexec and deployment tools use:
//   0                                  every applicable patch applied (or none needed applying),
//                                      transaction committed
//   3010 (ERROR_SUCCESS_REBOOT_REQUIRED) the same, and a patch asked for a restart
//   the patching call's error          a patch failed; the transaction was rolled back (where the
//                                      run had one; what was applied without one stays)
//   1642 (ERROR_PATCH_TARGET_NOT_FOUND) an installed target's patches were all made for another
//                                      version or language of it; nothing was changed
//   MsiBeginTransactionW's or MsiEndTransaction's error   the transaction could not begin or commit
//                                      (a commit answering 3010 is a success with a restart needed)
//   1603 (ERROR_INSTALL_FAILURE)       committed, but Windows Installer does not list a patch the run
//                                      applied as registered on its installation
//   1                                  any other failure (extraction, an unreadable patch or package,
//                                      sequencing)
// RunSucceeded (RunRecord.h) tells the first two from the rest. The carried patches are
// extracted into run.folder; what the run did goes into run.record as it goes. Each patch's
// status line is shown through progress; whether to restart is the caller's question.
int ApplyUpdates(RunContext& run, const UpdateProgress& progress);
