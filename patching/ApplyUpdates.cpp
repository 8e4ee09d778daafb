// The update run on the worker thread: what UpdatePlan.h reads, the checks before the first
// change, one Windows Installer transaction around every installation that can take part in
// one, and the check that what was applied is registered; and the check run, which stops
// before the first change. What happens goes into the run's record as it happens. Owns the
// plan and the transaction handle for one run.
#include "ApplyUpdates.h"

#include <windows.h>

#include <msi.h>
#include <msidefs.h>

#include <string>
#include <vector>

#include "AppState.h"
#include "ApplyProductUpdates.h"
#include "BeforeChanges.h"
#include "Installations.h"
#include "Log.h"
#include "MsiHandle.h"
#include "UpdatePlan.h"

namespace {

// Every patch's command line. Outside a transaction Windows Installer may restart Windows by
// itself when a package asks for it; the run must never do that, so there a restart need comes
// back as 3010 instead, as it does from inside a transaction.
const wchar_t patchProperties[] = L"REINSTALL=ALL REINSTALLMODE=omus";
const wchar_t patchPropertiesOnTheirOwn[] = L"REINSTALL=ALL REINSTALLMODE=omus REBOOT=ReallySuppress";

// The plans whose patches are applied in the same way, in the run's order.
using PlanList = std::vector<const InstallationPlan*>;

// Applies each plan's patches with properties, noting on each installation how; 0, or the
// failure code of the first installation that failed (later ones are not started).
int ApplyPlans(RunContext& run, const UpdateTable& table, const UpdateProgress& progress, const PlanList& plans,
               const wchar_t* properties, TransactionUse use, bool* rebootRequired)
{
    for (const InstallationPlan* plan : plans) {
        run.record.installations[plan->installation].transaction = use;
        int result = ApplyProductUpdates(run, table, progress, *plan, properties, rebootRequired);
        if (result != 0)
            return result;
    }
    return 0;
}

// After a transaction that failed to end as asked, what Windows Installer lists of every patch
// the run applied in it: still applied, gone (rolled back), or unknown where the state cannot be
// read. The documentation lists the errors of MsiEndTransaction without saying what they leave
// undone, so the run records what it reads instead of what it would assume.
void ReadBackTransaction(RunRecord& record, const wchar_t* when, const UpdateTable& table, const PlanList& plans)
{
    for (const InstallationPlan* plan : plans) {
        const InstallationRecord& installation = record.installations[plan->installation];
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(installation.context);
        std::wstring name = record.InstallationName(plan->installation);
        for (uint32_t j : plan->toApply) {
            PatchRecord& patch = record.InstallationPatch(plan->installation, j);
            if (patch.status != PatchStatus::Applied)
                continue;
            const wchar_t* fileName = table[static_cast<size_t>(patch.index)].fileName;
            UINT answer = ERROR_SUCCESS;
            int32_t state =
                ReadPatchState(record.PatchCode(patch.index), record.Text(installation.code), context, &answer);
            patch.patchState = state;
            if (state == MSIPATCHSTATE_APPLIED || state == MSIPATCHSTATE_SUPERSEDED ||
                state == MSIPATCHSTATE_OBSOLETED) {
                LogFormattedMessage(L"After the %s, Windows Installer lists update '%s' as installed for '%s' (%s).",
                                    when, fileName, name.c_str(), InstallContextName(context));
            } else if (answer == ERROR_UNKNOWN_PATCH || answer == ERROR_UNKNOWN_PRODUCT) {
                patch.status = PatchStatus::RolledBack;
                LogFormattedMessage(L"After the %s, Windows Installer no longer lists update '%s' for '%s' (%s).", when,
                                    fileName, name.c_str(), InstallContextName(context));
            } else {
                patch.status = PatchStatus::Unknown;
                LogFormattedMessage(L"After the %s, the state of update '%s' for '%s' (%s) cannot be read: error=%u.",
                                    when, fileName, name.c_str(), InstallContextName(context), answer);
            }
        }
    }
}

// Undoes what the open transaction changed, so that a failed run leaves every product as it
// found it ("MsiEndTransaction": a rollback undoes every installation of the transaction). A
// rollback that fails is read back patch by patch. Called by the thread that began the
// transaction, before its handle closes.
void RollBackTransaction(RunRecord& record, const UpdateTable& table, const PlanList& plans)
{
    UINT result = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    if (result != ERROR_SUCCESS) {
        LogFormattedMessage(L"Rolling back MSI transaction failed with error=%u.", result);
        ReadBackTransaction(record, L"failed rollback", table, plans);
        return;
    }
    LogMessage(L"MSI transaction rolled back.");
    for (const InstallationPlan* plan : plans) {
        for (uint32_t j : plan->toApply) {
            PatchRecord& patch = record.InstallationPatch(plan->installation, j);
            if (patch.status == PatchStatus::Applied)
                patch.status = PatchStatus::RolledBack;
        }
    }
}

// A commit that failed: the run asks for the rollback once more, trusting its answer no more
// than the commit's, then reads back what Windows Installer lists.
void ReportFailedCommit(RunRecord& record, UINT result, const UpdateTable& table, const PlanList& plans)
{
    record.LogFailure(RunStep::Committing, result, L"Committing MSI transaction failed with error=%u.", result);
    UINT rolledBack = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    LogFormattedMessage(
        L"Asked to roll the MSI transaction back after the failed commit, Windows Installer answered "
        L"%u.",
        rolledBack);
    ReadBackTransaction(record, L"failed commit", table, plans);
}

// Once every patch is in, each one the run applied must be listed by Windows Installer on its
// installation as applied, or as superseded or obsolete by another patch of the same run.
// ERROR_SUCCESS, or ERROR_INSTALL_FAILURE after logging each patch that is not listed.
int VerifyRegistration(RunRecord& record, const UpdateTable& table, const InstallationPlans& plans)
{
    int result = ERROR_SUCCESS;
    for (const InstallationPlan& plan : plans) {
        const InstallationRecord& installation = record.installations[plan.installation];
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(installation.context);
        for (uint32_t j : plan.toApply) {
            PatchRecord& patch = record.InstallationPatch(plan.installation, j);
            if (patch.status != PatchStatus::Applied)
                continue;
            int32_t state = ReadPatchState(record.PatchCode(patch.index), record.Text(installation.code), context);
            if (state == MSIPATCHSTATE_APPLIED || state == MSIPATCHSTATE_SUPERSEDED || state == MSIPATCHSTATE_OBSOLETED)
                continue;
            patch.status = PatchStatus::NotRegistered;
            patch.patchState = state;
            record.LogFailure(
                RunStep::Verifying, ERROR_INSTALL_FAILURE,
                L"Windows Installer does not list update '%s' as installed for '%s' (%s) after the commit.",
                table[static_cast<size_t>(patch.index)].fileName, record.InstallationName(plan.installation).c_str(),
                InstallContextName(context));
            result = ERROR_INSTALL_FAILURE;
        }
    }
    return result;
}

}  // namespace

int ApplyUpdates(RunContext& run, const UpdateProgress& progress)
{
    RunRecord& record = run.record;
    UpdatePlan update;
    int planned = PlanUpdates(run, progress, update);
    if (planned != 0)
        return planned;
    const UpdateTable& table = update.table;
    const InstallationPlans& plans = update.installations;
    RecordPendingRestart(record);
    int cached = CheckCachedPatches(record, update);
    if (cached != 0)
        return cached;

    // The installations that can share the transaction, and those that must go on their own
    // after it, each in the run's order.
    PlanList inside;
    PlanList onTheirOwn;
    for (const InstallationPlan& plan : plans) {
        if (!plan.toApply.empty())
            (plan.restartAction.empty() ? inside : onTheirOwn).push_back(&plan);
    }
    if (inside.empty() && onTheirOwn.empty()) {
        LogMessage(L"No update needs applying; no MSI transaction was begun.");
        return 0;
    }
    int waited = WaitForOtherInstallation(record, progress, appState.waitSeconds);
    if (waited != 0)
        return waited;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

    bool rebootRequired = false;
    MsiHandle transaction;
    if (!inside.empty()) {
        // The change-of-owner event is not used. It is not closed either: Wine hands back a
        // made-up value for it, and the run happens once per process.
        HANDLE ownerChangeEvent = nullptr;
        UINT begun = MsiBeginTransactionW(L"TessarvaneUpdater", 0, transaction.put(), &ownerChangeEvent);
        if (begun == ERROR_ROLLBACK_DISABLED) {
            // Where rollback is disabled (a policy or the DisableRollback property) Windows
            // Installer keeps no transaction; msiexec /p still patches there, and so does the
            // run, one installation after the other, stopping at the first failure. Nothing
            // can undo what was applied before it.
            LogMessage(
                L"Beginning MSI transaction failed with error=1653: rollback is disabled on this machine. "
                L"The updates are applied one at a time without a transaction.");
            record.transaction = TransactionUse::Outside;
            for (const InstallationPlan* plan : onTheirOwn)
                inside.push_back(plan);
            int result = ApplyPlans(run, table, progress, inside, patchPropertiesOnTheirOwn, TransactionUse::Outside,
                                    &rebootRequired);
            if (result != 0)
                return result;
            onTheirOwn.clear();
        } else if (begun != ERROR_SUCCESS) {
            record.LogFailure(RunStep::Beginning, begun, L"Beginning MSI transaction failed with error=%u.", begun);
            return static_cast<int>(begun);
        } else {
            record.transaction = TransactionUse::Inside;
            int result =
                ApplyPlans(run, table, progress, inside, patchProperties, TransactionUse::Inside, &rebootRequired);
            if (result != 0) {
                RollBackTransaction(record, table, inside);
                return result;
            }
            // Inside a transaction Windows never restarts by itself: a restart that the commit
            // found needed comes back as 3010, a success.
            UINT committed = MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT);
            if (committed == ERROR_SUCCESS_REBOOT_REQUIRED) {
                rebootRequired = true;
            } else if (committed != ERROR_SUCCESS) {
                ReportFailedCommit(record, committed, table, inside);
                return static_cast<int>(committed);
            }
        }
    }

    // Installations whose package or patch restarts Windows: once the transaction is over,
    // each on its own.
    int result = ApplyPlans(run, table, progress, onTheirOwn, patchPropertiesOnTheirOwn, TransactionUse::Outside,
                            &rebootRequired);
    if (result != 0)
        return result;

    // Checked only now: a failed check must not break the transaction.
    if (VerifyRegistration(record, table, plans) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    if (record.transaction == TransactionUse::Inside)
        LogMessage(L"All updates applied successfully and MSI transaction committed.");
    else
        LogMessage(L"All updates applied successfully.");

    if (!rebootRequired)
        return 0;
    LogMessage(L"One or more of the updates installed require a reboot.");
    return ERROR_SUCCESS_REBOOT_REQUIRED;
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
