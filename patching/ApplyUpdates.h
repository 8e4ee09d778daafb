// The whole update run, on the worker thread: extract the carried patches into folder,
// find their installed target products, apply every product's patches in one Windows
// Installer transaction (x64 products first) and offer a restart when a patch asks for one.
#pragma once

#include "UpdateProgress.h"

// The run's result, in the codes that msiexec and deployment tools use:
//   0                                  every applicable patch applied, transaction committed
//   3010 (ERROR_SUCCESS_REBOOT_REQUIRED) the same, and a patch asked for a restart
//   MsiApplyPatchW's error             a patch failed; the transaction was rolled back
//   MsiBeginTransactionW's or MsiEndTransaction's error   the transaction could not begin or commit
//                                      (a commit answering 3010 is a success with a restart needed)
//   1603 (ERROR_INSTALL_FAILURE)       committed, but Windows Installer does not list a patch the run
//                                      applied as registered on its installation
//   1                                  any other failure (extraction, an unreadable patch or package,
//                                      sequencing)
// RunResultSucceeded (RunRecord.h) tells the first two from the rest. What the run did goes
// into the run's record as it goes. Each patch's status line is shown through progress; after a
// committed run that needs a restart, progress is asked whether to restart, and Windows is
// asked to restart on Yes.
int ApplyUpdates(const wchar_t* folder, const UpdateProgress& progress);
