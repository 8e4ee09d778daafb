// The update run on the worker thread: extraction, the patches' target lists, the installed
// targets sorted by platform, and one Windows Installer transaction around every product's
// patches. Owns the update table, the product maps and the transaction handle for one run.
#include "ApplyUpdates.h"

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cwchar>
#include <string>
#include <vector>

#include "ApplyProductUpdates.h"
#include "Extraction.h"
#include "Log.h"
#include "MsiHandle.h"
#include "ProductPatchMap.h"
#include "RestartSystem.h"
#include "SplitProductCodes.h"

namespace {

// MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE: the persist modes are pointer values in the
// wide interface, so the sum is taken on the pointer, giving the value 32.
const LPCWSTR patchOpenMode = MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE;

// Reads PID_TEMPLATE with the two-call protocol: the size query must answer ERROR_MORE_DATA.
// buffer receives the terminated value; 0 on success, 1 on failure.
int ReadTemplate(MSIHANDLE summary, std::vector<wchar_t>& buffer)
{
    UINT dataType = 0;
    wchar_t empty[1] = L"";
    DWORD count = 0;
    if (MsiSummaryInfoGetPropertyW(summary, PID_TEMPLATE, &dataType, nullptr, nullptr, empty, &count) !=
        ERROR_MORE_DATA)
        return 1;
    count += 1;
    buffer.assign(count, L'\0');
    if (MsiSummaryInfoGetPropertyW(summary, PID_TEMPLATE, &dataType, nullptr, nullptr, buffer.data(), &count) !=
        ERROR_SUCCESS)
        return 1;
    buffer.back() = L'\0';
    return 0;
}

// Adds index to the list of every product that the patch at path targets.
int ReadPatchTargets(const std::wstring& path, int32_t index, ProductPatchMap& productPatches)
{
    MsiHandle database;
    if (MsiOpenDatabaseW(path.c_str(), patchOpenMode, database.put()) != ERROR_SUCCESS)
        return 1;
    MsiHandle summary;
    if (MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put()) != ERROR_SUCCESS)
        return 1;
    std::vector<wchar_t> targets;
    if (ReadTemplate(summary.get(), targets) != 0)
        return 1;

    std::vector<std::wstring> codes;
    SplitProductCodes(targets.data(), codes);
    for (const std::wstring& code : codes)
        productPatches[code].push_back(index);

    // The summary information goes before the database it was read from.
    summary.reset();
    database.reset();
    return 0;
}

// Puts an installed product into the x64 or the x86 group by its installed package's
// template. 0 on success, 1 when the package or its template cannot be read.
int GroupInstalledProduct(const std::wstring& productCode, const PatchIndexList& indexes,
                          ProductPatchMap& x64Products, ProductPatchMap& x86Products)
{
    DWORD count = 0;
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, nullptr, &count) != ERROR_SUCCESS)
        return 1;
    count += 1;
    std::vector<wchar_t> buffer(count, L'\0');
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, buffer.data(), &count) !=
        ERROR_SUCCESS)
        return 1;
    buffer.back() = L'\0';

    MsiHandle summary;
    if (MsiGetSummaryInformationW(0, buffer.data(), 0, summary.put()) != ERROR_SUCCESS)
        return 1;
    if (ReadTemplate(summary.get(), buffer) != 0)
        return 1;

    // The platform part of a template such as "x64;1033"; the test is case-sensitive.
    if (wcsstr(buffer.data(), L"x64") != nullptr)
        x64Products[productCode] = indexes;
    else
        x86Products[productCode] = indexes;
    return 0;
}

int ApplyGroup(const wchar_t* folder, const ProductPatchMap& products, const UpdateTable& table, HWND window,
               bool* rebootRequired)
{
    for (const auto& product : products) {
        if (ApplyProductUpdates(folder, product.first, product.second, table, window, rebootRequired) != 0)
            return 1;
    }
    return 0;
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
        if (ReadPatchTargets(path, static_cast<int32_t>(i), productPatches) != 0)
            return 1;
    }

    LogMessage(L"Determining applicable patches.");
    ProductPatchMap x64Products;
    ProductPatchMap x86Products;
    for (const auto& product : productPatches) {
        if (MsiQueryProductStateW(product.first.c_str()) != INSTALLSTATE_DEFAULT)
            continue;
        if (GroupInstalledProduct(product.first, product.second, x64Products, x86Products) != 0)
            return 1;
    }

    // The change-of-owner event is not used. It is not closed either: Wine hands back a
    // made-up value for it, and the run happens once per process.
    MsiHandle transaction;
    HANDLE ownerChangeEvent = nullptr;
    if (MsiBeginTransactionW(L"TessarvaneUpdater", 0, transaction.put(), &ownerChangeEvent) != ERROR_SUCCESS)
        return 1;

    // On a failure from here on the transaction is left without MsiEndTransaction; closing
    // its handle on the way out is all that is done with it.
    bool rebootRequired = false;
    if (ApplyGroup(folder, x64Products, table, window, &rebootRequired) != 0)
        return 1;
    if (ApplyGroup(folder, x86Products, table, window, &rebootRequired) != 0)
        return 1;

    if (MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT) != ERROR_SUCCESS) {
        LogMessage(L"Committing MSI transaction failed.");
        return 1;
    }
    LogMessage(L"All updates applied successfully and MSI transaction committed.");

    if (rebootRequired) {
        LogMessage(L"One or more of the updates installed require a reboot.");
        if (window != nullptr &&
            MessageBoxW(window,
                        L"Product updates successfully applied, but a reboot is required. Would you like to reboot now?",
                        L"Tessarvane Updater - Reboot Required", MB_YESNO) == IDYES)
            RestartSystem();
    }
    return 0;
}
