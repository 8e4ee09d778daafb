// The transaction and what goes on inside and after it, the same for applying and for removing
// patches; what differs between the two is in one table of calls, command lines and log lines.
#include "InstallationChanges.h"

#include <windows.h>

#include <msi.h>
#include <msidefs.h>

#include <vector>

#include "AppState.h"
#include "ApplyProductUpdates.h"
#include "BeforeChanges.h"
#include "Installations.h"
#include "Log.h"
#include "MsiHandle.h"

namespace {

// What one kind of change says and does.
struct ChangeTexts {
    // The command lines: inside the transaction, and on their own. Outside a transaction
    // Windows Installer may restart Windows by itself when a package asks for it; the run must
    // never do that, so there a restart need comes back as 3010 instead, as it does from inside a
    // transaction. A removal needs no more: Windows Installer sets MSIPATCHREMOVE, and REINSTALL
    // of the features the patch touched, itself.
    const wchar_t* insideProperties;
    const wchar_t* ownProperties;
    PatchStatus changed;   // the status of a patch the change reached
    const wchar_t* doing;  // as the log lines say it
    const wchar_t* done;
};

const ChangeTexts applying = {L"REINSTALL=ALL REINSTALLMODE=omus",
                              L"REINSTALL=ALL REINSTALLMODE=omus REBOOT=ReallySuppress", PatchStatus::Applied,
                              L"applying", L"applied"};
const ChangeTexts removing = {nullptr, L"REBOOT=ReallySuppress", PatchStatus::Removed, L"removing", L"removed"};

const ChangeTexts& TextsOf(InstallationChange change)
{
    return change == InstallationChange::Remove ? removing : applying;
}

bool Listed(int32_t state)
{
    return state == MSIPATCHSTATE_APPLIED || state == MSIPATCHSTATE_SUPERSEDED || state == MSIPATCHSTATE_OBSOLETED;
}

// The plans whose patches are changed in the same way, in the run's order.
using PlanList = std::vector<const InstallationPlan*>;

// Changes each plan's patches with properties, noting on each installation how; 0, or the
// failure code of the first installation that failed (later ones are not started).
int ChangePlans(RunContext& run, const UpdateTable& table, const UpdateProgress& progress, const PlanList& plans,
                InstallationChange change, const wchar_t* properties, TransactionUse use, bool* rebootRequired)
{
    for (const InstallationPlan* plan : plans) {
        run.record.installations[plan->installation].transaction = use;
        int result = ChangeProductUpdates(run, table, progress, *plan, change, properties, rebootRequired);
        if (result != 0)
            return result;
    }
    return 0;
}

// After a transaction that failed to end as asked, what Windows Installer lists of every patch
// the run changed in it: a patch applied and still listed stays applied, one no longer listed
// was rolled back; a patch removed and listed again was rolled back, one still unlisted stays
// removed; unknown where the state cannot be read. The documentation lists the errors of
// MsiEndTransaction without saying what they leave undone, so the run records what it reads
// instead of what it would assume.
void ReadBackTransaction(RunRecord& record, const wchar_t* when, const UpdateTable& table, const PlanList& plans,
                         InstallationChange change)
{
    const PatchStatus changed = TextsOf(change).changed;
    for (const InstallationPlan* plan : plans) {
        const InstallationRecord& installation = record.installations[plan->installation];
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(installation.context);
        std::wstring name = record.InstallationName(plan->installation);
        for (uint32_t j : plan->toApply) {
            PatchRecord& patch = record.InstallationPatch(plan->installation, j);
            if (patch.status != changed)
                continue;
            const wchar_t* fileName = table[static_cast<size_t>(patch.index)].fileName;
            UINT answer = ERROR_SUCCESS;
            int32_t state =
                ReadPatchState(record.PatchCode(patch.index), record.Text(installation.code), context, &answer);
            patch.patchState = state;
            if (Listed(state)) {
                if (change == InstallationChange::Remove)
                    patch.status = PatchStatus::RolledBack;
                LogFormattedMessage(L"After the %s, Windows Installer lists update '%s' as installed for '%s' (%s).",
                                    when, fileName, name.c_str(), InstallContextName(context));
            } else if (answer == ERROR_UNKNOWN_PATCH || answer == ERROR_UNKNOWN_PRODUCT) {
                if (change == InstallationChange::Apply)
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
void RollBackTransaction(RunRecord& record, const UpdateTable& table, const PlanList& plans, InstallationChange change)
{
    UINT result = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    if (result != ERROR_SUCCESS) {
        LogFormattedMessage(L"Rolling back MSI transaction failed with error=%u.", result);
        ReadBackTransaction(record, L"failed rollback", table, plans, change);
        return;
    }
    LogMessage(L"MSI transaction rolled back.");
    for (const InstallationPlan* plan : plans) {
        for (uint32_t j : plan->toApply) {
            PatchRecord& patch = record.InstallationPatch(plan->installation, j);
            if (patch.status == TextsOf(change).changed)
                patch.status = PatchStatus::RolledBack;
        }
    }
}

// A commit that failed: the run asks for the rollback once more, trusting its answer no more
// than the commit's, then reads back what Windows Installer lists.
void ReportFailedCommit(RunRecord& record, UINT result, const UpdateTable& table, const PlanList& plans,
                        InstallationChange change)
{
    record.LogFailure(RunStep::Committing, result, L"Committing MSI transaction failed with error=%u.", result);
    UINT rolledBack = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    LogFormattedMessage(
        L"Asked to roll the MSI transaction back after the failed commit, Windows Installer answered "
        L"%u.",
        rolledBack);
    ReadBackTransaction(record, L"failed commit", table, plans, change);
}

// Once every change is made, Windows Installer must list each patch the run applied on its
// installation (as applied, or superseded or obsolete by another patch of the same run), and no
// longer list any patch the run removed. ERROR_SUCCESS, or ERROR_INSTALL_FAILURE after logging
// each patch that is not as it should be.
int VerifyChanges(RunRecord& record, const UpdateTable& table, const InstallationPlans& plans,
                  InstallationChange change)
{
    int result = ERROR_SUCCESS;
    for (const InstallationPlan& plan : plans) {
        const InstallationRecord& installation = record.installations[plan.installation];
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(installation.context);
        for (uint32_t j : plan.toApply) {
            PatchRecord& patch = record.InstallationPatch(plan.installation, j);
            if (patch.status != TextsOf(change).changed)
                continue;
            UINT answer = ERROR_SUCCESS;
            int32_t state =
                ReadPatchState(record.PatchCode(patch.index), record.Text(installation.code), context, &answer);
            const wchar_t* fileName = table[static_cast<size_t>(patch.index)].fileName;
            std::wstring name = record.InstallationName(plan.installation);
            if (change == InstallationChange::Apply) {
                if (Listed(state))
                    continue;
                patch.status = PatchStatus::NotRegistered;
                patch.patchState = state;
                record.LogFailure(
                    RunStep::Verifying, ERROR_INSTALL_FAILURE,
                    L"Windows Installer does not list update '%s' as installed for '%s' (%s) after the commit.",
                    fileName, name.c_str(), InstallContextName(context));
            } else if (Listed(state)) {
                patch.status = PatchStatus::StillListed;
                patch.patchState = state;
                record.LogFailure(RunStep::Verifying, ERROR_INSTALL_FAILURE,
                                  L"Windows Installer still lists update '%s' for '%s' (%s) after the commit.",
                                  fileName, name.c_str(), InstallContextName(context));
            } else if (answer == ERROR_UNKNOWN_PATCH || answer == ERROR_UNKNOWN_PRODUCT) {
                continue;
            } else {
                patch.status = PatchStatus::Unknown;
                record.LogFailure(RunStep::Verifying, ERROR_INSTALL_FAILURE,
                                  L"The state of update '%s' for '%s' (%s) cannot be read after the commit: error=%u.",
                                  fileName, name.c_str(), InstallContextName(context), answer);
            }
            result = ERROR_INSTALL_FAILURE;
        }
    }
    return result;
}

}  // namespace

int ChangeInstallations(RunContext& run, const UpdatePlan& update, const UpdateProgress& progress,
                        InstallationChange change)
{
    RunRecord& record = run.record;
    const UpdateTable& table = update.table;
    const ChangeTexts& texts = TextsOf(change);

    // The installations that can share the transaction, and those that must go on their own
    // after it, each in the run's order.
    PlanList inside;
    PlanList onTheirOwn;
    for (const InstallationPlan& plan : update.installations) {
        if (!plan.toApply.empty())
            (plan.restartAction.empty() ? inside : onTheirOwn).push_back(&plan);
    }
    if (inside.empty() && onTheirOwn.empty()) {
        LogFormattedMessage(L"No update needs %s; no MSI transaction was begun.", texts.doing);
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
            // can undo what was changed before it.
            LogFormattedMessage(
                L"Beginning MSI transaction failed with error=1653: rollback is disabled on this "
                L"machine. The updates are %s one at a time without a transaction.",
                texts.done);
            record.transaction = TransactionUse::Outside;
            for (const InstallationPlan* plan : onTheirOwn)
                inside.push_back(plan);
            int result = ChangePlans(run, table, progress, inside, change, texts.ownProperties, TransactionUse::Outside,
                                     &rebootRequired);
            if (result != 0)
                return result;
            onTheirOwn.clear();
        } else if (begun != ERROR_SUCCESS) {
            record.LogFailure(RunStep::Beginning, begun, L"Beginning MSI transaction failed with error=%u.", begun);
            return static_cast<int>(begun);
        } else {
            record.transaction = TransactionUse::Inside;
            int result = ChangePlans(run, table, progress, inside, change, texts.insideProperties,
                                     TransactionUse::Inside, &rebootRequired);
            if (result != 0) {
                RollBackTransaction(record, table, inside, change);
                return result;
            }
            // Inside a transaction Windows never restarts by itself: a restart that the commit
            // found needed comes back as 3010, a success.
            UINT committed = MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT);
            if (committed == ERROR_SUCCESS_REBOOT_REQUIRED) {
                rebootRequired = true;
            } else if (committed != ERROR_SUCCESS) {
                ReportFailedCommit(record, committed, table, inside, change);
                return static_cast<int>(committed);
            }
        }
    }

    // Installations whose package or patch restarts Windows: once the transaction is over,
    // each on its own.
    int result = ChangePlans(run, table, progress, onTheirOwn, change, texts.ownProperties, TransactionUse::Outside,
                             &rebootRequired);
    if (result != 0)
        return result;

    // Checked only now: a failed check must not break the transaction.
    if (VerifyChanges(record, table, update.installations, change) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    LogFormattedMessage(record.transaction == TransactionUse::Inside
                            ? L"All updates %s successfully and MSI transaction committed."
                            : L"All updates %s successfully.",
                        texts.done);

    if (!rebootRequired)
        return 0;
    // "installed": the line an update run has always written.
    LogFormattedMessage(L"One or more of the updates %s require a reboot.",
                        change == InstallationChange::Remove ? L"removed" : L"installed");
    return ERROR_SUCCESS_REBOOT_REQUIRED;
}
