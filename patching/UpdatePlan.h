// What every run that patches reads before it changes anything, and what a check stops after:
// the carried patches extracted into the working folder and read, every installation of their
// targets on the machine, and each of the running account's installations with its patches
// ordered by Windows Installer and their states read. Worker thread (or a check's main thread).
#pragma once

#include <vector>

#include "ApplyProductUpdates.h"
#include "RunContext.h"
#include "UpdateProgress.h"
#include "UpdateTable.h"

using InstallationPlans = std::vector<InstallationPlan>;

struct UpdatePlan {
    UpdateTable table;
    // The running account's installations that Windows Installer patches, the x64 group first,
    // each group in the run's order.
    InstallationPlans installations;
};

// Extracts the carried patches into run.folder, reads each one's targets, and finds every
// installation of them: the running account's go into plan.installations, the others are
// recorded as such. 0; 1 after logging why a step failed; ERROR_INSTALL_SOURCE_ABSENT after
// logging that an installation's cached package is gone (its patches then have the status
// PackageCacheMissing).
int FindUpdateTargets(RunContext& run, UpdatePlan& plan);

// FindUpdateTargets, then each installation's patches ordered and their states read
// (PlanProductUpdates). FindUpdateTargets' answers, and ERROR_PATCH_TARGET_NOT_FOUND when
// an installation's patches were all made for another version or language of it, which
// msiexec answers for such a patch too: a run that changed nothing there is no success.
int PlanUpdates(RunContext& run, const UpdateProgress& progress, UpdatePlan& plan);

// The removal run's reading: FindUpdateTargets, then for each installation the patches Windows
// Installer lists there, in the order of their removal (PlanProductRemoval). FindUpdateTargets'
// answers.
int PlanRemovals(RunContext& run, const UpdateProgress& progress, UpdatePlan& plan);
