// One product installation's patches, in two turns on the worker thread. Before the
// transaction: Windows Installer orders them in the installation's context, and the run reads
// which of them are there already. Then, inside the transaction or on their own after it: the
// rest are applied one at a time, to that product only. A removal run takes the same two turns
// the other way: the patches Windows Installer lists, in the reverse of their order, then each
// one's removal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RunContext.h"
#include "UpdateProgress.h"
#include "UpdateTable.h"

// What the first turn found for one installation of the running account (for a removal,
// toApply holds the patches to remove, in the order of their removal).
struct InstallationPlan {
    uint32_t installation = 0;  // its place in the run's record
    std::wstring displayName;   // as the log and the window name it
    // Positions in its index list of the patches to apply, in application order.
    std::vector<uint32_t> toApply;
    // None of its patches fits it, and at least one was made for it as it was at another
    // version or language (ERROR_PATCH_TARGET_NOT_FOUND): the run must not end as a success.
    bool targetNotFound = false;
    // Why its patches cannot go into the transaction: a restart action of the installed
    // package or of a patch, as the log names it. Empty for most.
    std::wstring restartAction;
};

// The first turn. Logs the product's name and context, has Windows Installer order every patch
// of the installation, and records each one's status: a patch that Windows Installer lists on
// the installation already (applied, superseded or obsolete) and one that the order leaves out
// as superseded or obsolete is not applied again and gets its status line; one that does not
// apply is not applicable; the rest go into plan.toApply. A patch to apply whose transforms add
// a restart action sets plan.restartAction. 0, or 1 when the patches could not be sequenced.
int PlanProductUpdates(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                       InstallationPlan& plan);

// The first turn of a removal: logs the product's name and context, reads which of the
// installation's patches Windows Installer lists (applied, superseded or obsolete) and puts them
// into plan.toApply in the reverse of the order Windows Installer applies them in (its sequence;
// where it cannot give one, the reverse of the carried order); each one not listed is not
// applicable, with its status line. 0.
int PlanProductRemoval(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                       InstallationPlan& plan);

// What the second turn does to each installation's patches.
enum class InstallationChange { Apply, Remove };

// The second turn, of an update and of a removal: applies or removes plan.toApply in order, with
// properties as the command line, each on the installation's product only, with its verbose log
// and its status line. Sets *rebootRequired when a patch asks for a restart and never clears it.
// 0 when every one was changed, or the error of the first that failed (later ones are not
// started).
int ChangeProductUpdates(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                         const InstallationPlan& plan, InstallationChange change, const wchar_t* properties,
                         bool* rebootRequired);
