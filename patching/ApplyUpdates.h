// The whole update run, on the worker thread: extract the carried patches into folder,
// find their installed target products, apply every product's patches in one Windows
// Installer transaction (x64 products first) and offer a restart when a patch asks for one.
#pragma once

#include <windows.h>

#include "UpdateOutcome.h"

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
// UpdateRunSucceeded (UpdaterMessages.h) tells the first two from the rest.
// window is the progress window to tell, or null. The run's outcome goes to the run's record.
// The restart question is asked only with a window and outside unattended mode; on Yes the
// verbose logs and the result file are written before Windows is asked to restart.
int ApplyUpdates(const wchar_t* folder, HWND window);

// The same without the record and the restart question: outcome receives each installation's
// and each patch's status as far as the run got.
int ApplyUpdates(const wchar_t* folder, HWND window, UpdateRunOutcome& outcome);
