// The update run on the worker thread: extraction, the patches' target lists, the installed
// targets sorted by platform, and one Windows Installer transaction around every product's
// patches, committed when all of them succeeded and rolled back otherwise. Owns the update
// table, the product maps and the transaction handle for one run.
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
#include "PatchCode.h"
#include "ProductPatchMap.h"
#include "RestartSystem.h"
#include "RunRecord.h"
#include "SplitProductCodes.h"

namespace {

// MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE: the persist modes are pointer values in the
// wide interface, so the sum is taken on the pointer, giving the value 32.
const LPCWSTR patchOpenMode = MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE;

// Reads PID_TEMPLATE with the two-call protocol: the size query must answer ERROR_MORE_DATA.
// buffer receives the terminated value. ERROR_SUCCESS, or the error of the call that failed;
// a size query that answers success (no such string) gives ERROR_INVALID_DATA.
UINT ReadTemplate(MSIHANDLE summary, std::vector<wchar_t>& buffer)
{
    UINT dataType = 0;
    wchar_t empty[1] = L"";
    DWORD count = 0;
    UINT result = MsiSummaryInfoGetPropertyW(summary, PID_TEMPLATE, &dataType, nullptr, nullptr, empty, &count);
    if (result != ERROR_MORE_DATA)
        return result == ERROR_SUCCESS ? ERROR_INVALID_DATA : result;
    count += 1;
    buffer.assign(count, L'\0');
    result = MsiSummaryInfoGetPropertyW(summary, PID_TEMPLATE, &dataType, nullptr, nullptr, buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';
    return ERROR_SUCCESS;
}

// Adds index to the list of every product that the patch at path targets. 0, or 1 after
// logging why the patch could not be read.
int ReadPatchTargets(const std::wstring& path, const wchar_t* fileName, int32_t index,
                     ProductPatchMap& productPatches)
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
        result = ReadTemplate(summary.get(), targets);
    if (result != ERROR_SUCCESS) {
        LogFailure(RunStep::ReadingPatch, result, L"Reading the target products of patch '%s' failed with error=%u.",
                   fileName, result);
        return 1;
    }

    std::vector<std::wstring> codes;
    SplitProductCodes(targets.data(), codes);
    RecordPatchSummary(index, summary.get(), targets.data());
    for (const std::wstring& code : codes)
        productPatches[code].push_back(index);

    // The summary information goes before the database it was read from.
    summary.reset();
    database.reset();
    return 0;
}

// The installed package's template, which names the product's platform: ERROR_SUCCESS or
// the error of the call that failed.
UINT ReadPackageTemplate(const std::wstring& productCode, std::vector<wchar_t>& buffer)
{
    DWORD count = 0;
    UINT result = MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, nullptr, &count);
    if (result != ERROR_SUCCESS)
        return result;
    count += 1;
    buffer.assign(count, L'\0');
    result = MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';

    MsiHandle summary;
    result = MsiGetSummaryInformationW(0, buffer.data(), 0, summary.put());
    if (result != ERROR_SUCCESS)
        return result;
    return ReadTemplate(summary.get(), buffer);
}

// Puts an installed product into the x64 or the x86 group by its installed package's
// template. 0 on success, 1 after logging that the package or its template cannot be read.
int GroupInstalledProduct(const std::wstring& productCode, const PatchIndexList& indexes,
                          ProductPatchMap& x64Products, ProductPatchMap& x86Products)
{
    std::vector<wchar_t> buffer;
    UINT result = ReadPackageTemplate(productCode, buffer);
    if (result != ERROR_SUCCESS) {
        LogFailure(RunStep::ReadingProduct, result, L"Reading the installed package of product '%s' failed with error=%u.",
                   productCode.c_str(), result);
        return 1;
    }

    // The platform part of a template such as "x64;1033"; the test is case-sensitive.
    bool x64 = wcsstr(buffer.data(), L"x64") != nullptr;
    RecordProductPlatform(productCode, x64, ProductContext::Machine);
    if (x64)
        x64Products[productCode] = indexes;
    else
        x86Products[productCode] = indexes;
    return 0;
}

// 0, or the failure code of the first product that failed; later products are not started.
int ApplyGroup(const wchar_t* folder, const ProductPatchMap& products, const UpdateTable& table, HWND window,
               bool* rebootRequired)
{
    for (const auto& product : products) {
        int result = ApplyProductUpdates(folder, product.first, product.second, table, window, rebootRequired);
        if (result != 0)
            return result;
    }
    return 0;
}

// Undoes what the open transaction changed, so that a failed run leaves every product as
// it found it. Called by the thread that began the transaction, before its handle closes.
void RollBackTransaction()
{
    UINT result = MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK);
    if (result == ERROR_SUCCESS) {
        LogMessage(L"MSI transaction rolled back.");
        RecordRollback();
    } else {
        LogFormattedMessage(L"Rolling back MSI transaction failed with error=%u.", result);
    }
}

// Unattended runs have nobody to answer the question; their exit code tells of the restart.
bool AskForRestart(HWND window)
{
    return window != nullptr && appState.runMode != RunMode::Unattended;
}

}  // namespace

int ApplyUpdates(const wchar_t* folder, HWND window)
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

    for (const auto& product : productPatches)
        RecordProduct(product.first, product.second);
    LogMessage(L"Determining applicable patches.");
    ProductPatchMap x64Products;
    ProductPatchMap x86Products;
    for (const auto& product : productPatches) {
        bool installed = MsiQueryProductStateW(product.first.c_str()) == INSTALLSTATE_DEFAULT;
        RecordProductInstalled(product.first, installed);
        if (!installed)
            continue;
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
    int result = ApplyGroup(folder, x64Products, table, window, &rebootRequired);
    if (result == 0)
        result = ApplyGroup(folder, x86Products, table, window, &rebootRequired);
    if (result == 0) {
        UINT committed = MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT);
        if (committed != ERROR_SUCCESS) {
            LogFailure(RunStep::Committing, committed, L"Committing MSI transaction failed.");
            result = static_cast<int>(committed);
        }
    }
    if (result != 0) {
        RollBackTransaction();
        return result;
    }
    LogMessage(L"All updates applied successfully and MSI transaction committed.");

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
