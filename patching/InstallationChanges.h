// The changing half of an update run and of a removal run, on the run's thread: one Windows
// Installer transaction around every installation that can take part in one, the installations
// that must go on their own after it, the rollback of a failure inside it, the read-back after a
// commit or rollback that failed, and the check after the commit that Windows Installer lists
// what the run changed. Owns the transaction handle for one run.
#pragma once

#include "RunContext.h"
#include "UpdatePlan.h"
#include "UpdateProgress.h"

// Applies or removes every planned patch: 0, 3010 when a patch or the commit asks for a
// restart, or the failure code (ApplyUpdates.h). Nothing to change: 0, and no transaction.
int ChangeInstallations(RunContext& run, const UpdatePlan& plan, const UpdateProgress& progress,
                        InstallationChange change);
