// The update run on the worker thread: extraction, the patches' target lists and codes, every
// installation of the targets on the machine (the running account's sorted by platform, other
// accounts' listed), one Windows Installer transaction around every installation's patches,
// committed when all of them succeeded and rolled back otherwise, and the check that what was
// applied is registered. What happens goes into the run's record as it happens. Owns the
// update table, the product map and the transaction handle for one run.
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
#include "Installations.h"
#include "Log.h"
#include "MsiHandle.h"
#include "ProductPatchMap.h"
#include "RestartSystem.h"
#include "RunRecord.h"
#include "SplitProductCodes.h"

namespace {

// MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE: the persist modes are pointer values in the
// wide interface, so the sum is taken on the pointer, giving the value 32.
const LPCWSTR patchOpenMode = MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE;

// Reads a text property of summary information with the two-call protocol: the size query
// must answer ERROR_MORE_DATA. buffer receives the terminated value. ERROR_SUCCESS, or the
// error of the call that failed; a size query that answers success (no such string) gives
// ERROR_INVALID_DATA.
UINT ReadSummaryText(MSIHANDLE summary, UINT property, std::vector<wchar_t>& buffer)
{
    UINT dataType = 0;
    wchar_t empty[1] = L"";
    DWORD count = 0;
    UINT result = MsiSummaryInfoGetPropertyW(summary, property, &dataType, nullptr, nullptr, empty, &count);
    if (result != ERROR_MORE_DATA)
        return result == ERROR_SUCCESS ? ERROR_INVALID_DATA : result;
    count += 1;
    buffer.assign(count, L'\0');
    result = MsiSummaryInfoGetPropertyW(summary, property, &dataType, nullptr, nullptr, buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';
    return ERROR_SUCCESS;
}

// A patch's own code: the braced GUID that begins its revision number, which may go on with
// the codes of the patches it supersedes. Empty when there is no such value.
std::wstring ReadPatchCode(MSIHANDLE summary)
{
    const size_t guidLength = 38;
    std::vector<wchar_t> buffer;
    if (ReadSummaryText(summary, PID_REVNUMBER, buffer) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring value = buffer.data();
    if (value.size() < guidLength || value[0] != L'{' || value[guidLength - 1] != L'}')
        return std::wstring();
    return value.substr(0, guidLength);
}

// Adds index to the list of every product that the patch at path targets, and records its
// patch code and targets. 0, or 1 after logging why the patch could not be read.
int ReadPatchTargets(const std::wstring& path, const wchar_t* fileName, int32_t index, ProductPatchMap& productPatches)
{
    MsiHandle database;
    UINT result = MsiOpenDatabaseW(path.c_str(), patchOpenMode, database.put());
    if (result != ERROR_SUCCESS) {
        LogFailure(RunStep::ReadingPatch, result, L"Opening patch '%s' failed with error=%u.", fileName, result);
        return 1;
    }
    MsiHandle summary;
    result = MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put());
    std::vector<wchar_t> targets;
    if (result == ERROR_SUCCESS)
        result = ReadSummaryText(summary.get(), PID_TEMPLATE, targets);
    if (result != ERROR_SUCCESS) {
        LogFailure(RunStep::ReadingPatch, result, L"Reading the target products of patch '%s' failed with error=%u.",
                   fileName, result);
        return 1;
    }
    RecordPatchTargets(index, ReadPatchCode(summary.get()).c_str(), targets.data());

    std::vector<std::wstring> codes;
    SplitProductCodes(targets.data(), codes);
    for (const std::wstring& code : codes)
        productPatches[code].push_back(index);

    // The summary information goes before the database it was read from.
    summary.reset();
    database.reset();
    return 0;
}

// The contexts of the running account's own installations, in the order they are patched: the
// machine's first. The platform groups come before this order: a per-user x64 installation is
// still patched before a per-machine x86 one, since 64-bit packages must go first in one
// transaction.
const MSIINSTALLCONTEXT installContexts[] = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERMANAGED,
                                             MSIINSTALLCONTEXT_USERUNMANAGED};

// The installed package's template, which names the product's platform: ERROR_SUCCESS or
// the error of the call that failed.
UINT ReadPackageTemplate(const std::wstring& productCode, MSIINSTALLCONTEXT context, std::vector<wchar_t>& buffer)
{
    UINT result = ReadInstalledProperty(productCode, context, INSTALLPROPERTY_LOCALPACKAGE, buffer);
    if (result != ERROR_SUCCESS)
        return result;

    MsiHandle summary;
    result = MsiGetSummaryInformationW(0, buffer.data(), 0, summary.put());
    if (result != ERROR_SUCCESS)
        return result;
    return ReadSummaryText(summary.get(), PID_TEMPLATE, buffer);
}

// Installations of the running account to patch, by their places in the run's record.
using InstallationGroup = std::vector<uint32_t>;

// What the machine holds of the run's targets: every listed installation and the running
// account, against which per-user installations are told apart.
struct MachineInstallations {
    std::vector<ListedInstallation> listed;
    std::wstring accountSid;
};

// 0, or 1 after logging why the installations or the running account cannot be read.
int FindMachineInstallations(MachineInstallations& machine)
{
    machine.accountSid = RunningAccountSid();
    if (machine.accountSid.empty()) {
        DWORD error = GetLastError();
        LogFailure(RunStep::ReadingProduct, error, L"Reading the running account failed with error=%u.", error);
        return 1;
    }
    UINT result = ListInstallations(machine.listed);
    if (result != ERROR_SUCCESS) {
        LogFailure(RunStep::ReadingProduct, result, L"Listing the installed products failed with error=%u.", result);
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
bool RecordOtherAccount(const std::wstring& productCode, uint32_t product, const ListedInstallation& installation)
{
    std::wstring state = ReadInstallationState(productCode, installation.userSid.c_str(), installation.context);
    if (state == L"1")
        return false;
    LogFormattedMessage(L"Product '%s' is installed per-user for another account (%s); this run cannot patch it.",
                        productCode.c_str(), installation.userSid.c_str());
    RecordOtherAccountInstallation(product, installation.context, installation.userSid);
    return true;
}

// Records each installation of the product (product: its place in the run's record): the
// running account's ones go into the x64 or the x86 group by their installed package's
// template, other accounts' ones are listed. Sets *found when the product is installed
// anywhere. 0 on success, 1 after logging that a package or its template cannot be read.
int GroupInstalledProduct(const std::wstring& productCode, uint32_t product, const MachineInstallations& machine,
                          InstallationGroup& x64Products, InstallationGroup& x86Products, bool* found)
{
    *found = false;
    for (MSIINSTALLCONTEXT context : installContexts) {
        for (const ListedInstallation& listed : machine.listed) {
            if (listed.context != context || !SameProductCode(listed.productCode, productCode) ||
                !OwnInstallation(listed, machine.accountSid))
                continue;
            // An advertised product ("1") or any error counts as not installed in that context.
            if (ReadInstallationState(productCode, nullptr, context) != L"5")
                continue;
            *found = true;
            std::vector<wchar_t> buffer;
            UINT result = ReadPackageTemplate(productCode, context, buffer);
            if (result != ERROR_SUCCESS) {
                LogFailure(RunStep::ReadingProduct, result,
                           L"Reading the installed package of product '%s' failed with error=%u.", productCode.c_str(),
                           result);
                return 1;
            }
            // The platform part of a template such as "x64;1033"; the test is case-sensitive.
            bool x64 = wcsstr(buffer.data(), L"x64") != nullptr;
            InstallationGroup& group = x64 ? x64Products : x86Products;
            group.push_back(RecordInstallation(product, context, listed.userSid, x64));
            break;  // one installation per context for one account
        }
    }
    for (const ListedInstallation& listed : machine.listed) {
        if (!SameProductCode(listed.productCode, productCode) || OwnInstallation(listed, machine.accountSid))
            continue;
        if (RecordOtherAccount(productCode, product, listed))
            *found = true;
    }
    return 0;
}

// 0, or the failure code of the first installation that failed; later ones are not started.
int ApplyGroup(const wchar_t* folder, const InstallationGroup& installations, const UpdateTable& table,
               const UpdateProgress& progress, bool* rebootRequired)
{
    for (uint32_t installation : installations) {
        int result = ApplyProductUpdates(folder, installation, table, progress, rebootRequired);
        if (result != 0)
            return result;
    }
    return 0;
}

// Records that what this run applied has been undone with the transaction.
void MarkRolledBack()
{
    for (PatchRecord& patch : runRecord.patches) {
        if (patch.status == PatchStatus::Applied)
            patch.status = PatchStatus::RolledBack;
    }
}

// Undoes what the open transaction changed, so that a failed run leaves every product as
// it found it. Called by the thread that began the transaction, before its handle closes.
void RollBackTransaction()
{
    UINT result = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    if (result == ERROR_SUCCESS) {
        LogMessage(L"MSI transaction rolled back.");
        MarkRolledBack();
    } else {
        LogFormattedMessage(L"Rolling back MSI transaction failed with error=%u.", result);
    }
}

// A commit that fails has ended the transaction: Windows Installer rolls back what it could
// not commit itself and takes no further MsiEndTransaction for it.
void ReportFailedCommit(UINT result)
{
    LogFailure(RunStep::Committing, result, L"Committing MSI transaction failed with error=%u.", result);
    if (result == ERROR_ROLLBACK_DISABLED) {
        LogMessage(L"Windows Installer rolled the MSI transaction back as far as rollback was enabled.");
        return;
    }
    LogMessage(L"Windows Installer rolled the MSI transaction back.");
    MarkRolledBack();
}

// After the commit, every patch the run applied must be listed by Windows Installer on its
// installation as applied, or as superseded or obsolete by another patch of the same run.
// MsiApplyPatchW takes no context: where the running account has the product in several,
// Windows Installer patches the first it finds (user-managed, user-unmanaged, machine), and
// the others are left as they were. ERROR_SUCCESS, or ERROR_INSTALL_FAILURE after logging
// each patch of the group's installations that is not listed.
int VerifyRegistration(const UpdateTable& table, const InstallationGroup& installations)
{
    int result = ERROR_SUCCESS;
    for (uint32_t installation : installations) {
        const ProductRecord& product = runRecord.products[installation];
        for (uint32_t j = 0; j < product.patchCount; ++j) {
            PatchRecord& patch = InstallationPatch(installation, j);
            if (patch.status != PatchStatus::Applied)
                continue;
            MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(product.context);
            int32_t state = ReadPatchState(RecordedPatchCode(patch.index), RecordedText(product.code), context);
            if (state == MSIPATCHSTATE_APPLIED || state == MSIPATCHSTATE_SUPERSEDED || state == MSIPATCHSTATE_OBSOLETED)
                continue;
            patch.status = PatchStatus::NotRegistered;
            patch.patchState = state;
            // The run names a product by its code when its name could not be read.
            std::wstring name = RecordedText(product.displayName.length != 0 ? product.displayName : product.code);
            LogFailure(RunStep::Verifying, ERROR_INSTALL_FAILURE,
                       L"Windows Installer does not list update '%s' as installed for '%s' (%s) after the commit.",
                       table[static_cast<size_t>(patch.index)].fileName, name.c_str(), InstallContextName(context));
            result = ERROR_INSTALL_FAILURE;
        }
    }
    return result;
}

}  // namespace

// The run up to its result, without the restart.
static int RunUpdates(const wchar_t* folder, const UpdateProgress& progress)
{
    if (folder == nullptr || folder[0] == L'\0')
        return 1;

    UpdateTable table;
    if (ExtractUpdates(folder, &table) != 0)
        return 1;

    ProductPatchMap productPatches;
    for (size_t i = 0; i < table.size(); ++i) {
        std::wstring path = std::wstring(folder) + L"\\" + table[i].fileName;
        if (ReadPatchTargets(path, table[i].fileName, static_cast<int32_t>(i), productPatches) != 0)
            return 1;
    }

    // The products' places in the record, in the map's order.
    std::vector<uint32_t> products;
    for (const auto& product : productPatches)
        products.push_back(RecordProduct(product.first, product.second));
    LogMessage(L"Determining applicable patches.");
    MachineInstallations machine;
    if (!productPatches.empty() && FindMachineInstallations(machine) != 0)
        return 1;
    InstallationGroup x64Products;
    InstallationGroup x86Products;
    size_t next = 0;
    for (const auto& product : productPatches) {
        uint32_t place = products[next++];
        bool found = false;
        if (GroupInstalledProduct(product.first, place, machine, x64Products, x86Products, &found) != 0)
            return 1;
        if (!found) {
            LogFormattedMessage(L"Product '%s' is not installed.", product.first.c_str());
            RecordProductNotInstalled(place);
        }
    }

    // The change-of-owner event is not used. It is not closed either: Wine hands back a
    // made-up value for it, and the run happens once per process.
    MsiHandle transaction;
    HANDLE ownerChangeEvent = nullptr;
    UINT begun = MsiBeginTransactionW(L"TessarvaneUpdater", 0, transaction.put(), &ownerChangeEvent);
    if (begun != ERROR_SUCCESS) {
        LogFailure(RunStep::Beginning, begun, L"Beginning MSI transaction failed with error=%u.", begun);
        return static_cast<int>(begun);
    }

    bool rebootRequired = false;
    int result = ApplyGroup(folder, x64Products, table, progress, &rebootRequired);
    if (result == 0)
        result = ApplyGroup(folder, x86Products, table, progress, &rebootRequired);
    if (result != 0) {
        RollBackTransaction();
        return result;
    }

    // Inside a transaction Windows never restarts by itself: a restart that the commit found
    // needed comes back as 3010, a success.
    UINT committed = MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT);
    if (committed == ERROR_SUCCESS_REBOOT_REQUIRED) {
        rebootRequired = true;
    } else if (committed != ERROR_SUCCESS) {
        ReportFailedCommit(committed);
        return static_cast<int>(committed);
    }
    // Checked only now: a failed check must not break the transaction.
    int verified = VerifyRegistration(table, x64Products);
    if (VerifyRegistration(table, x86Products) != ERROR_SUCCESS)
        verified = ERROR_INSTALL_FAILURE;
    if (verified != ERROR_SUCCESS)
        return verified;
    LogMessage(L"All updates applied successfully and MSI transaction committed.");

    if (!rebootRequired)
        return 0;
    LogMessage(L"One or more of the updates installed require a reboot.");
    return ERROR_SUCCESS_REBOOT_REQUIRED;
}

int ApplyUpdates(const wchar_t* folder, const UpdateProgress& progress)
{
    int result = RunUpdates(folder, progress);
    // The transaction is over: whoever watches is asked, and on Yes has kept what it must.
    if (result == ERROR_SUCCESS_REBOOT_REQUIRED && progress.ConfirmRestart())
        RestartSystem();
    return result;
}
