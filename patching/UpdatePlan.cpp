// Reading before changing: the carried patches' targets, the machine's installations of them,
// and each installation's patches in Windows Installer's order.
#include "UpdatePlan.h"

#include <windows.h>

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cwchar>
#include <string>
#include <vector>

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
    // Without administrator rights (a check) Windows Installer lists no other account's.
    UINT result = ListInstallations(machine.listed, record.elevated != 0);
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

// Plans the installation of the product (product: its place in the run's record) that Windows
// Installer will patch for the running account, in the x64 or the x86 group by its installed
// package's platform; records the account's installations in other contexts, which it will not
// patch, and lists other accounts' ones. Sets *found when the product is installed anywhere. 0
// on success, 1 after logging that a package cannot be read, ERROR_INSTALL_SOURCE_ABSENT after
// logging that Windows Installer's cached copy of it is gone.
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
            if (result == ERROR_INSTALL_SOURCE_ABSENT) {
                // Windows Installer would stop halfway through the transaction for it.
                uint32_t place = record.RecordInstallation(product, context, listed.userSid, package.platform);
                record.RecordInstallationPatches(place, PatchStatus::PackageCacheMissing);
                record.LogFailure(RunStep::PackageCache, result,
                                  L"The cached package of product '%s' (%s) is missing: %s. Repair or reinstall "
                                  L"the product before updating it.",
                                  productCode.c_str(), InstallContextName(context), package.localPackage.c_str());
                return ERROR_INSTALL_SOURCE_ABSENT;
            }
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

}  // namespace

int FindUpdateTargets(RunContext& run, UpdatePlan& plan)
{
    const wchar_t* folder = run.folder;
    RunRecord& record = run.record;
    if (folder == nullptr || folder[0] == L'\0')
        return 1;

    UpdateTable& table = plan.table;
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
        int grouped = GroupInstalledProduct(record, product.first, place, machine, x64Plans, x86Plans, &found);
        if (grouped != 0)
            return grouped;
        if (!found) {
            LogFormattedMessage(L"Product '%s' is not installed.", product.first.c_str());
            record.RecordProductNotInstalled(place);
        }
    }

    plan.installations = x64Plans;
    plan.installations.insert(plan.installations.end(), x86Plans.begin(), x86Plans.end());
    return 0;
}

int PlanUpdates(RunContext& run, const UpdateProgress& progress, UpdatePlan& plan)
{
    int found = FindUpdateTargets(run, plan);
    if (found != 0)
        return found;
    // Every installation ordered and checked before anything changes: the x64 group first.
    bool targetNotFound = false;
    for (InstallationPlan& installation : plan.installations) {
        if (PlanProductUpdates(run, plan.table, progress, installation) != 0)
            return 1;
        targetNotFound = targetNotFound || installation.targetNotFound;
    }
    if (targetNotFound)
        return ERROR_PATCH_TARGET_NOT_FOUND;
    return 0;
}

int PlanRemovals(RunContext& run, const UpdateProgress& progress, UpdatePlan& plan)
{
    int found = FindUpdateTargets(run, plan);
    if (found != 0)
        return found;
    for (InstallationPlan& installation : plan.installations) {
        if (PlanProductRemoval(run, plan.table, progress, installation) != 0)
            return 1;
    }
    return 0;
}
