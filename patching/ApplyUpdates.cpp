// The update run on the worker thread: extraction, the patches' target lists and codes, the
// installed targets found in each context they are installed in and sorted by platform, and
// one Windows Installer transaction around every installation's patches, committed when all
// of them succeeded and rolled back otherwise. Owns the update table, the product maps and
// the transaction handle for one run.
#include "ApplyUpdates.h"

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cwchar>
#include <string>
#include <vector>

#include "AppState.h"
#include "ApplyProductUpdates.h"
#include "Extraction.h"
#include "Log.h"
#include "MsiHandle.h"
#include "ProductPatchMap.h"
#include "RecordOutcome.h"
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

// Adds index to the list of every product that the patch at path targets, and keeps its
// patch code. 0, or 1 after logging why the patch could not be read.
int ReadPatchTargets(const std::wstring& path, const wchar_t* fileName, int32_t index,
                     ProductPatchMap& productPatches, PatchCodeList& patchCodes)
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
    patchCodes.push_back(ReadPatchCode(summary.get()));
    RecordPatchTargets(index, patchCodes.back().c_str(), targets.data());

    std::vector<std::wstring> codes;
    SplitProductCodes(targets.data(), codes);
    for (const std::wstring& code : codes)
        productPatches[code].push_back(index);

    // The summary information goes before the database it was read from.
    summary.reset();
    database.reset();
    return 0;
}

// The contexts that one account can have a product installed in, in the order their
// installations are patched: the machine's first. The platform groups come before this order:
// a per-user x64 installation is still patched before a per-machine x86 one, since 64-bit
// packages must go first in one transaction.
const MSIINSTALLCONTEXT installContexts[] = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERMANAGED,
                                             MSIINSTALLCONTEXT_USERUNMANAGED};

// True when the product is installed (state "5", INSTALLSTATE_DEFAULT) in that context for
// the account running the run; an advertised product ("1") or any error counts as not.
bool InstalledIn(const std::wstring& productCode, MSIINSTALLCONTEXT context)
{
    wchar_t state[16] = L"";
    DWORD count = ARRAYSIZE(state);
    UINT result = MsiGetProductInfoExW(productCode.c_str(), nullptr, context, INSTALLPROPERTY_PRODUCTSTATE, state,
                                       &count);
    return result == ERROR_SUCCESS && wcscmp(state, L"5") == 0;
}

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

using InstallationGroup = std::vector<ProductInstallation>;

// Puts each context's installation of an installed product into the x64 or the x86 group by
// its installed package's template. 0 on success, 1 after logging that a package or its
// template cannot be read, or that the product is in no context this account can patch.
int GroupInstalledProduct(const std::wstring& productCode, const PatchIndexList& indexes,
                          InstallationGroup& x64Products, InstallationGroup& x86Products)
{
    bool found = false;
    for (MSIINSTALLCONTEXT context : installContexts) {
        if (!InstalledIn(productCode, context))
            continue;
        found = true;
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
        RecordInstallation(productCode, context, x64);
        InstallationGroup& group = x64 ? x64Products : x86Products;
        group.push_back(ProductInstallation{productCode, context, indexes});
    }
    if (!found) {
        // Installed, says Windows Installer, yet in none of this account's contexts: passing
        // over it would report a product left unpatched as a success.
        LogFailure(RunStep::ReadingProduct, ERROR_UNKNOWN_PRODUCT,
                   L"Finding the installation context of product '%s' failed.", productCode.c_str());
        return 1;
    }
    return 0;
}

// 0, or the failure code of the first installation that failed; later ones are not started.
int ApplyGroup(const wchar_t* folder, const InstallationGroup& installations, const UpdateTable& table,
               const PatchCodeList& patchCodes, HWND window, bool* rebootRequired, UpdateRunOutcome& outcome)
{
    for (const ProductInstallation& installation : installations) {
        outcome.products.push_back(PendingOutcome(installation));
        int result = ApplyProductUpdates(folder, installation, table, patchCodes, window, rebootRequired,
                                         outcome.products.back());
        if (result != 0)
            return result;
    }
    return 0;
}

// Records that what this run applied has been undone with the transaction.
void MarkRolledBack(UpdateRunOutcome& outcome)
{
    for (ProductOutcome& product : outcome.products) {
        for (PatchOutcome& patch : product.patches) {
            if (patch.status == PatchStatus::Applied)
                patch.status = PatchStatus::RolledBack;
        }
    }
}

// Undoes what the open transaction changed, so that a failed run leaves every product as
// it found it. Called by the thread that began the transaction, before its handle closes.
void RollBackTransaction(UpdateRunOutcome& outcome)
{
    UINT result = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    if (result == ERROR_SUCCESS) {
        LogMessage(L"MSI transaction rolled back.");
        MarkRolledBack(outcome);
    } else {
        LogFormattedMessage(L"Rolling back MSI transaction failed with error=%u.", result);
    }
}

// A commit that fails has ended the transaction: Windows Installer rolls back what it could
// not commit itself and takes no further MsiEndTransaction for it.
void ReportFailedCommit(UINT result, UpdateRunOutcome& outcome)
{
    LogFailure(RunStep::Committing, result, L"Committing MSI transaction failed with error=%u.", result);
    if (result == ERROR_ROLLBACK_DISABLED) {
        LogMessage(L"Windows Installer rolled the MSI transaction back as far as rollback was enabled.");
        return;
    }
    LogMessage(L"Windows Installer rolled the MSI transaction back.");
    MarkRolledBack(outcome);
}

// Unattended runs have nobody to answer the question; their exit code tells of the restart.
bool AskForRestart(HWND window)
{
    return window != nullptr && appState.runMode != RunMode::Unattended;
}

}  // namespace

int ApplyUpdates(const wchar_t* folder, HWND window)
{
    UpdateRunOutcome outcome;
    int result = ApplyUpdates(folder, window, outcome);
    RecordOutcome(outcome);
    return result;
}

int ApplyUpdates(const wchar_t* folder, HWND window, UpdateRunOutcome& outcome)
{
    if (folder == nullptr || folder[0] == L'\0')
        return 1;

    UpdateTable table;
    if (ExtractUpdates(folder, &table) != 0)
        return 1;

    ProductPatchMap productPatches;
    PatchCodeList patchCodes;
    for (size_t i = 0; i < table.size(); ++i) {
        std::wstring path = std::wstring(folder) + L"\\" + table[i].fileName;
        if (ReadPatchTargets(path, table[i].fileName, static_cast<int32_t>(i), productPatches, patchCodes) != 0)
            return 1;
    }

    for (const auto& product : productPatches)
        RecordProduct(product.first, product.second);
    LogMessage(L"Determining applicable patches.");
    InstallationGroup x64Products;
    InstallationGroup x86Products;
    for (const auto& product : productPatches) {
        if (MsiQueryProductStateW(product.first.c_str()) != INSTALLSTATE_DEFAULT) {
            outcome.notInstalled.push_back(product.first);
            RecordProductNotInstalled(product.first);
            continue;
        }
        if (GroupInstalledProduct(product.first, product.second, x64Products, x86Products) != 0)
            return 1;
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
    int result = ApplyGroup(folder, x64Products, table, patchCodes, window, &rebootRequired, outcome);
    if (result == 0)
        result = ApplyGroup(folder, x86Products, table, patchCodes, window, &rebootRequired, outcome);
    if (result != 0) {
        RollBackTransaction(outcome);
        return result;
    }

    // Inside a transaction Windows never restarts by itself: a restart that the commit found
    // needed comes back as 3010, a success.
    UINT committed = MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT);
    outcome.commitResult = committed;
    if (committed == ERROR_SUCCESS_REBOOT_REQUIRED) {
        rebootRequired = true;
    } else if (committed != ERROR_SUCCESS) {
        ReportFailedCommit(committed, outcome);
        return static_cast<int>(committed);
    }
    LogMessage(L"All updates applied successfully and MSI transaction committed.");
    outcome.rebootRequired = rebootRequired;

    if (!rebootRequired)
        return 0;
    LogMessage(L"One or more of the updates installed require a reboot.");
    if (AskForRestart(window) &&
        MessageBoxW(window,
                    L"Product updates successfully applied, but a reboot is required. Would you like to reboot now?",
                    L"Tessarvane Updater - Reboot Required", MB_YESNO) == IDYES)
        RestartSystem();
    return ERROR_SUCCESS_REBOOT_REQUIRED;
}
