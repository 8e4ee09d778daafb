// One product's patches, on the worker thread: name lookup, sequencing by Windows
// Installer, then one MsiApplyPatchW per applicable patch in the order it gave. Owns the
// heap copies of the patch paths in the sequence array for the length of one call.
#include "ApplyProductUpdates.h"

#include <msi.h>
#include <strsafe.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "AppState.h"
#include "Log.h"
#include "StringTable.h"
#include "UpdaterMessages.h"
#include "VerboseLogs.h"
#include "resource.h"

namespace {

const wchar_t patchCommandLine[] = L"REINSTALL=ALL REINSTALLMODE=omus";

// The sequence array handed to MsiDeterminePatchSequenceW. Each szPatchData is a _wcsdup
// copy freed here, so every way out of ApplyProductUpdates releases them.
class PatchSequence {
public:
    PatchSequence() = default;
    PatchSequence(const PatchSequence&) = delete;
    PatchSequence& operator=(const PatchSequence&) = delete;
    ~PatchSequence()
    {
        for (MSIPATCHSEQUENCEINFOW& entry : entries_)
            free(const_cast<wchar_t*>(entry.szPatchData));
    }

    bool Append(const std::wstring& path)
    {
        MSIPATCHSEQUENCEINFOW entry{};
        entry.szPatchData = _wcsdup(path.c_str());
        if (entry.szPatchData == nullptr)
            return false;
        entry.ePatchDataType = MSIPATCH_DATATYPE_PATCHFILE;
        entry.dwOrder = 0xFFFFFFFF;
        entry.uStatus = 0;
        entries_.push_back(entry);
        return true;
    }

    DWORD Count() const { return static_cast<DWORD>(entries_.size()); }
    MSIPATCHSEQUENCEINFOW* Data() { return entries_.data(); }
    const MSIPATCHSEQUENCEINFOW& operator[](size_t i) const { return entries_[i]; }

private:
    std::vector<MSIPATCHSEQUENCEINFOW> entries_;
};

// Windows Installer writes dwOrder as a DWORD; 0xFFFFFFFF (left unsequenced) must count as
// -1, below every real position.
int32_t SignedOrder(const MSIPATCHSEQUENCEINFOW& entry)
{
    return static_cast<int32_t>(entry.dwOrder);
}

// The product's "InstalledProductName", or the code itself when that cannot be read.
std::wstring ReadDisplayName(const std::wstring& productCode)
{
    DWORD count = 0;
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_INSTALLEDPRODUCTNAME, nullptr, &count) !=
        ERROR_SUCCESS)
        return productCode;
    count += 1;
    std::vector<wchar_t> buffer(count, L'\0');
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_INSTALLEDPRODUCTNAME, buffer.data(), &count) !=
        ERROR_SUCCESS)
        return productCode;
    buffer.back() = L'\0';
    return buffer.data();
}

}  // namespace

int ApplyProductUpdates(const wchar_t* folder, const std::wstring& productCode, const PatchIndexList& indexes,
                        const UpdateTable& table, HWND window, bool* rebootRequired)
{
    if (indexes.empty())
        return 0;

    std::wstring displayName = ReadDisplayName(productCode);
    std::wstring line = L"Determining update application order for product '" + displayName + L"'.";
    LogMessage(line.c_str());

    PatchSequence sequence;
    std::vector<const wchar_t*> names;  // lent by table, parallel to sequence
    for (int32_t index : indexes) {
        const wchar_t* fileName = table[static_cast<size_t>(index)].fileName;
        if (!sequence.Append(std::wstring(folder) + L"\\" + fileName))
            return 1;
        names.push_back(fileName);
    }

    UINT sequenced = MsiDeterminePatchSequenceW(productCode.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE,
                                                sequence.Count(), sequence.Data());
    if (sequenced != ERROR_SUCCESS) {
        LogFormattedMessage(L"MsiDeterminePatchSequence failed with error=%u", sequenced);
        return 1;
    }

    // The applicable entries in application order: by dwOrder, entries that share one in
    // index-list order. Sorting rather than walking every level up to the highest keeps a
    // huge dwOrder from turning into billions of empty levels.
    std::vector<DWORD> applicable;
    for (DWORD j = 0; j < sequence.Count(); ++j) {
        if (sequence[j].uStatus == 0 && SignedOrder(sequence[j]) >= 0)
            applicable.push_back(j);
    }
    if (applicable.empty()) {
        LogMessage(L"No updates required.");
        return 0;
    }
    std::stable_sort(applicable.begin(), applicable.end(),
                     [&sequence](DWORD a, DWORD b) { return SignedOrder(sequence[a]) < SignedOrder(sequence[b]); });

    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

    std::wstring installingFormat = LoadResString(IDS_INSTALLING_FORMAT);
    wchar_t status[512];
    for (DWORD j : applicable) {
        if (!appState.logFolder.empty()) {
            std::wstring logName = appState.logFolder + names[j] + L" " + productCode + L".log";
            MsiEnableLogW(INSTALLLOGMODE_VERBOSE, VerboseLogInWorkingFolder(folder, logName).c_str(), 0);
        }

        StringCchPrintfW(status, ARRAYSIZE(status), installingFormat.c_str(), names[j], displayName.c_str());
        LogMessage(status);
        if (window != nullptr)
            SendMessageW(window, WM_UPDATE_STATUS, reinterpret_cast<WPARAM>(status), 0);

        UINT result = MsiApplyPatchW(sequence[j].szPatchData, nullptr, INSTALLTYPE_DEFAULT, patchCommandLine);
        if (result == ERROR_SUCCESS_REBOOT_REQUIRED) {
            *rebootRequired = true;
        } else if (result != ERROR_SUCCESS) {
            // The failure line goes to the log only; the window learns of it from the run's end.
            LogFormattedMessage(L"MsiApplyPatch failed with error=%u", result);
            return static_cast<int>(result);
        }
        LogMessage(L"MsiApplyPatch succeeded.");
    }
    return 0;
}
