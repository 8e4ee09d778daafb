// The three runs that read the machine's installations: the update run (what UpdatePlan.h
// reads, the checks before the first change, then the change), the check, which stops before
// the first change, and the removal run. What happens goes into the run's record as it happens.
// Owns each run's plan.
#include "ApplyUpdates.h"

#include <windows.h>

#include <msi.h>

#include "BeforeChanges.h"
#include "InstallationChanges.h"
#include "Installations.h"
#include "Log.h"
#include "UpdatePlan.h"

int ApplyUpdates(RunContext& run, const UpdateProgress& progress)
{
    UpdatePlan update;
    int planned = PlanUpdates(run, progress, update);
    if (planned != 0)
        return planned;
    RecordPendingRestart(run.record);
    int cached = CheckCachedPatches(run.record, update);
    if (cached != 0)
        return cached;
    return ChangeInstallations(run, update, progress, InstallationChange::Apply);
}

int RemoveUpdates(RunContext& run, const UpdateProgress& progress)
{
    UpdatePlan removal;
    int planned = PlanRemovals(run, progress, removal);
    if (planned != 0)
        return planned;
    RecordPendingRestart(run.record);
    int removable = CheckRemovable(run, removal);
    if (removable != 0)
        return removable;
    return ChangeInstallations(run, removal, progress, InstallationChange::Remove);
}

int CheckUpdates(RunContext& run)
{
    RunRecord& record = run.record;
    UpdateProgress nobody;
    UpdatePlan update;
    int planned = PlanUpdates(run, nobody, update);
    if (planned == 0) {
        RecordPendingRestart(record);
        planned = CheckCachedPatches(record, update);
    }
    // Exit code 2 means an update is needed, whatever went wrong.
    if (planned == checkFoundUpdates)
        planned = 1;
    if (planned != 0)
        return planned;
    bool found = false;
    for (const InstallationPlan& installation : update.installations) {
        for (uint32_t j : installation.toApply) {
            PatchRecord& patch = record.InstallationPatch(installation.installation, j);
            patch.status = PatchStatus::WouldApply;
            LogFormattedMessage(
                L"Update '%s' would be applied to '%s' (%s).", update.table[static_cast<size_t>(patch.index)].fileName,
                installation.displayName.c_str(),
                InstallContextName(
                    static_cast<MSIINSTALLCONTEXT>(record.installations[installation.installation].context)));
            found = true;
        }
    }
    LogMessage(found ? L"The check found updates to apply; nothing was changed."
                     : L"The check found nothing to apply; nothing was changed.");
    return found ? checkFoundUpdates : 0;
}
