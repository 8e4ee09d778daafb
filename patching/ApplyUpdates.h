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
//   1612 (ERROR_INSTALL_SOURCE_ABSENT)  an installation to patch has lost Windows Installer's cached
//                                      copy of its package or of a patch applied to it; nothing
//                                      was changed
//   1618 (ERROR_INSTALL_ALREADY_RUNNING) another installation still ran when the wait (-w) was
//                                      over, or Windows Installer answered so; nothing was changed
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

// The removal run (-u): the same extraction and installations as ApplyUpdates; on each of the
// running account's installations, the carried patches that Windows Installer lists there
// (applied, superseded or obsolete) are removed in the reverse of their order, in one
// transaction as ApplyUpdates applies them, the x64 group first. Before anything changes every
// one of them must be removable, or nothing is removed:
//   0, 3010, 1618, 1612, the removal call's error, MsiBeginTransactionW's or MsiEndTransaction's
//   error, as ApplyUpdates (0 also where nothing is listed)
//   1646 (ERROR_PATCH_REMOVAL_UNSUPPORTED) a patch to remove is not removable; nothing was changed
//   1603 (ERROR_INSTALL_FAILURE)       committed, but Windows Installer still lists a patch the run
//                                      removed
int RemoveUpdates(RunContext& run, const UpdateProgress& progress);

// The check (-q): the same reading and checks before the first change as ApplyUpdates, and no
// change; each patch an update run would apply gets the status WouldApply. 0 when nothing is
// left to apply, checkFoundUpdates (RunRecord.h) when something is, or ApplyUpdates' failure
// codes for the steps it shares (1 for a failure whose code would be checkFoundUpdates).
int CheckUpdates(RunContext& run);
