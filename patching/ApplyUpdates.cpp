// The update run on the worker thread: extraction, the patches' target lists and codes, every
// installation of the targets on the machine (the running account's sorted by platform, other
// accounts' listed), each installation's patches ordered and checked before anything changes,
// one Windows Installer transaction around every installation that can take part in one, and
// the check that what was applied is registered. What happens goes into the run's record as it
// happens. Owns the update table, the product map, the installations' plans and the
// transaction handle for one run.
#include "ApplyUpdates.h"

#include <windows.h>

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cwchar>
#include <string>
#include <vector>

#include "ApplyProductUpdates.h"
#include "Extraction.h"
#include "InstalledPackage.h"
#include "Installations.h"
#include "Log.h"
#include "MsiHandle.h"
#include "PatchRestartActions.h"
#include "ProductPatchMap.h"
#include "SplitProductCodes.h"
#include "SummaryInformation.h"

namespace {

// MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE: the persist modes are pointer values in the
// wide interface, so the sum is taken on the pointer, giving the value 32.
const LPCWSTR patchOpenMode = MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE;

// Every patch's command line. Outside a transaction Windows Installer may restart Windows by
// itself when a package asks for it; the run must never do that, so there a restart need comes
// back as 3010 instead, as it does from inside a transaction.
const wchar_t patchProperties[] = L"REINSTALL=ALL REINSTALLMODE=omus";
const wchar_t patchPropertiesOnTheirOwn[] = L"REINSTALL=ALL REINSTALLMODE=omus REBOOT=ReallySuppress";

// Adds index to the list of every product that the patch at path targets, and records its
// patch code, its targets and any restart action its transforms add. 0, or 1 after logging
// why the patch could not be read.
int ReadPatchTargets(RunRecord& record, const std::wstring& path, const wchar_t* fileName, int32_t index,
                     ProductPatchMap& productPatches)
{
    // Windows Installer takes a list of patches separated by ';', and such a name would be cut
    // into two paths halfway through the transaction. The packer refuses such names; an
    // updater packed before it did still extracts the file with -x.
    if (wcschr(fileName, L';') != nullptr) {
        record.LogFailure(
            RunStep::ReadingPatch, ERROR_INVALID_NAME,
            L"Update file name '%s' holds a ';', which Windows Installer takes as the end of a patch's path.",
            fileName);
        return 1;
    }
    MsiHandle database;
    UINT result = MsiOpenDatabaseW(path.c_str(), patchOpenMode, database.put());
    if (result != ERROR_SUCCESS) {
        record.LogFailure(RunStep::ReadingPatch, result, L"Opening patch '%s' failed with error=%u.", fileName, result);
        return 1;
    }
    MsiHandle summary;
    result = MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put());
    std::vector<wchar_t> targets;
    if (result == ERROR_SUCCESS)
        result = ReadSummaryText(summary.get(), PID_TEMPLATE, targets);
    if (result != ERROR_SUCCESS) {
        record.LogFailure(RunStep::ReadingPatch, result,
                          L"Reading the target products of patch '%s' failed with error=%u.", fileName, result);
        return 1;
    }
    std::vector<std::wstring> codes;
    SplitProductCodes(targets.data(), codes);
    record.RecordPatchTargets(index, ReadPatchCode(summary.get()).c_str(), codes);
    for (const std::wstring& code : codes)
        productPatches[code].push_back(index);

    // The summary information goes before the database it was read from.
    summary.reset();
    database.reset();

    // The packer warned of such a patch already; this finds it in an updater packed without
    // the warning being heeded. A patch Windows Installer could open but this reader cannot
    // read goes into the transaction as before.
    std::wstring action;
    std::wstring reason;
    if (!FindPatchRestartAction(path, action, reason))
        LogFormattedMessage(L"The transforms of patch '%s' could not be read for restart actions: %s.", fileName,
                            reason.c_str());
    else if (!action.empty())
        record.RecordPatchRestartAction(index, action);
    return 0;
}

// The contexts of the running account, in the order Windows Installer looks for a product
// there: of one product in several of them, it patches the first it finds, whatever context
// the caller had in mind (no patching call takes one).
const MSIINSTALLCONTEXT searchOrder[] = {MSIINSTALLCONTEXT_USERMANAGED, MSIINSTALLCONTEXT_USERUNMANAGED,
                                         MSIINSTALLCONTEXT_MACHINE};

// What the machine holds of the run's targets: every listed installation and the running
// account, against which per-user installations are told apart.
struct MachineInstallations {
    std::vector<ListedInstallation> listed;
    std::wstring accountSid;
};

// 0, or 1 after logging why the installations or the running account cannot be read.
int FindMachineInstallations(RunRecord& record, MachineInstallations& machine)
{
    machine.accountSid = RunningAccountSid();
    if (machine.accountSid.empty()) {
        DWORD error = GetLastError();
        record.LogFailure(RunStep::ReadingProduct, error, L"Reading the running account failed with error=%u.", error);
        return 1;
    }
    UINT result = ListInstallations(machine.listed);
    if (result != ERROR_SUCCESS) {
        record.LogFailure(RunStep::ReadingProduct, result, L"Listing the installed products failed with error=%u.",
                          result);
        return 1;
    }
    return 0;
}

bool OwnInstallation(const ListedInstallation& installation, const std::wstring& accountSid)
{
    return installation.context == MSIINSTALLCONTEXT_MACHINE ||
           _wcsicmp(installation.userSid.c_str(), accountSid.c_str()) == 0;
}

// Another account's per-user installation: Windows Installer applies patches only to the
// products of the account that runs it, so it is listed and left alone. One that Windows
// Installer says is only advertised is no installation. Its state may also be unreadable
// (Wine answers for no other account): it is then listed too, since passing over it could
// hide an unpatched product.
// True when it was listed.
bool RecordOtherAccount(RunRecord& record, const std::wstring& productCode, uint32_t product,
                        const ListedInstallation& installation)
{
    std::wstring state = ReadInstallationState(productCode, installation.userSid.c_str(), installation.context);
    if (state == L"1")
        return false;
    LogFormattedMessage(L"Product '%s' is installed per-user for another account (%s); this run cannot patch it.",
                        productCode.c_str(), installation.userSid.c_str());
    record.RecordOtherAccountInstallation(product, installation.context, installation.userSid);
    return true;
}

using InstallationPlans = std::vector<InstallationPlan>;

// Plans the installation of the product (product: its place in the run's record) that Windows
// Installer will patch for the running account, in the x64 or the x86 group by its installed
// package's platform; records the account's installations in other contexts, which it will not
// patch, and lists other accounts' ones. Sets *found when the product is installed anywhere. 0
// on success, 1 after logging that a package cannot be read.
int GroupInstalledProduct(RunRecord& record, const std::wstring& productCode, uint32_t product,
                          const MachineInstallations& machine, InstallationPlans& x64Plans, InstallationPlans& x86Plans,
                          bool* found)
{
    *found = false;
    bool patched = false;
    MSIINSTALLCONTEXT patchedContext = MSIINSTALLCONTEXT_NONE;
    for (MSIINSTALLCONTEXT context : searchOrder) {
        for (const ListedInstallation& listed : machine.listed) {
            if (listed.context != context || !SameProductCode(listed.productCode, productCode) ||
                !OwnInstallation(listed, machine.accountSid))
                continue;
            // An advertised product ("1") or any error counts as not installed in that context.
            if (ReadInstallationState(productCode, nullptr, context) != L"5")
                continue;
            *found = true;
            if (patched) {
                LogFormattedMessage(
                    L"Product '%s' is also installed %s; Windows Installer patches only its %s "
                    L"installation for this account, so this run cannot patch that one.",
                    productCode.c_str(), InstallContextName(context), InstallContextName(patchedContext));
                record.RecordOtherContextInstallation(product, context, listed.userSid);
                break;
            }
            InstalledPackage package;
            UINT result = ReadInstalledPackage(productCode, context, package);
            if (result != ERROR_SUCCESS) {
                record.LogFailure(RunStep::ReadingProduct, result,
                                  L"Reading the installed package of product '%s' failed with error=%u.",
                                  productCode.c_str(), result);
                return 1;
            }
            InstallationPlan plan;
            plan.installation = record.RecordInstallation(product, context, listed.userSid, package.platform);
            if (!package.restartAction.empty()) {
                plan.restartAction = package.restartAction;
                LogFormattedMessage(
                    L"Product '%s' has %s in its InstallExecuteSequence, which Windows Installer does "
                    L"not run inside an MSI transaction; its updates are applied after the "
                    L"transaction, on their own.",
                    productCode.c_str(), package.restartAction.c_str());
            }
            // A 64-bit package after a 32-bit one in one transaction would get its folders
            // redirected, so every 64-bit platform goes first, not only x64.
            (Is64BitPlatform(package.platform) ? x64Plans : x86Plans).push_back(plan);
            patched = true;
            patchedContext = context;
            break;  // one installation per context for one account
        }
    }
    for (const ListedInstallation& listed : machine.listed) {
        if (!SameProductCode(listed.productCode, productCode) || OwnInstallation(listed, machine.accountSid))
            continue;
        if (RecordOtherAccount(record, productCode, product, listed))
            *found = true;
    }
    return 0;
}

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
    const wchar_t* folder = run.folder;
    RunRecord& record = run.record;
    if (folder == nullptr || folder[0] == L'\0')
        return 1;

    UpdateTable table;
    if (ExtractUpdates(folder, &table, record, run.hash) != 0)
        return 1;

    ProductPatchMap productPatches;
    for (size_t i = 0; i < table.size(); ++i) {
        std::wstring path = std::wstring(folder) + L"\\" + table[i].fileName;
        if (ReadPatchTargets(record, path, table[i].fileName, static_cast<int32_t>(i), productPatches) != 0)
            return 1;
    }

    // The products' places in the record, in the map's order.
    std::vector<uint32_t> products;
    for (const auto& product : productPatches)
        products.push_back(record.RecordProduct(product.first, product.second));
    LogMessage(L"Determining applicable patches.");
    MachineInstallations machine;
    if (!productPatches.empty() && FindMachineInstallations(record, machine) != 0)
        return 1;
    InstallationPlans x64Plans;
    InstallationPlans x86Plans;
    size_t next = 0;
    for (const auto& product : productPatches) {
        uint32_t place = products[next++];
        bool found = false;
        if (GroupInstalledProduct(record, product.first, place, machine, x64Plans, x86Plans, &found) != 0)
            return 1;
        if (!found) {
            LogFormattedMessage(L"Product '%s' is not installed.", product.first.c_str());
            record.RecordProductNotInstalled(place);
        }
    }

    // Every installation ordered and checked before anything changes: the x64 group first.
    InstallationPlans plans = x64Plans;
    plans.insert(plans.end(), x86Plans.begin(), x86Plans.end());
    bool targetNotFound = false;
    for (InstallationPlan& plan : plans) {
        if (PlanProductUpdates(run, table, progress, plan) != 0)
            return 1;
        targetNotFound = targetNotFound || plan.targetNotFound;
    }
    // What msiexec answers for such a patch: a run that changed nothing here is no success.
    if (targetNotFound)
        return ERROR_PATCH_TARGET_NOT_FOUND;

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
