// One product installation's patches, on the worker thread: name lookup, sequencing by
// Windows Installer in the context the product is installed in, then one MsiApplyPatchW per
// applicable patch in the order it gave, passing over patches that are applied already.
// Owns the heap copies of the patch paths in the sequence array for the length of one call.
#include "ApplyProductUpdates.h"

#include <windows.h>

#include <msi.h>
#include <strsafe.h>

#include <algorithm>
#include <cwchar>
#include <cstdlib>
#include <vector>

#include "AppState.h"
#include "Installations.h"
#include "Log.h"
#include "RunRecord.h"
#include "StringTable.h"
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

// The installation's "InstalledProductName", or the code itself when that cannot be read or
// is empty (Windows answers a product without one with success and an empty text).
std::wstring ReadDisplayName(const std::wstring& productCode, MSIINSTALLCONTEXT context)
{
    std::vector<wchar_t> buffer;
    if (ReadInstalledProperty(productCode, context, INSTALLPROPERTY_INSTALLEDPRODUCTNAME, buffer) != ERROR_SUCCESS ||
        buffer[0] == L'\0')
        return productCode;
    return buffer.data();
}

// What a patch that Windows Installer lists on the installation already becomes, by the state
// it lists: applied, or superseded or made obsolete by a later patch. Either way applying it
// again would reinstall the patched features for nothing.
struct ListedPatchState {
    int32_t state;
    PatchStatus status;
    UINT format;
};
const ListedPatchState listedPatchStates[] = {
    {MSIPATCHSTATE_APPLIED, PatchStatus::AlreadyApplied, IDS_ALREADY_INSTALLED_FORMAT},
    {MSIPATCHSTATE_SUPERSEDED, PatchStatus::Superseded, IDS_SUPERSEDED_FORMAT},
    {MSIPATCHSTATE_OBSOLETED, PatchStatus::Obsolete, IDS_OBSOLETE_FORMAT},
};

// Formats a patch's status line (the patch's file name, then the product's name), logs it and
// shows it.
void ReportStatus(const std::wstring& format, const wchar_t* fileName, const std::wstring& displayName,
                  const UpdateProgress& progress)
{
    wchar_t status[512];
    StringCchPrintfW(status, ARRAYSIZE(status), format.c_str(), fileName, displayName.c_str());
    LogMessage(status);
    progress.ShowStatus(status);
}

}  // namespace

int ApplyProductUpdates(const wchar_t* folder, uint32_t installation, const UpdateTable& table,
                        const UpdateProgress& progress, bool* rebootRequired)
{
    const ProductRecord& record = runRecord.products[installation];
    const uint32_t patchCount = record.patchCount;
    if (patchCount == 0)
        return 0;
    const std::wstring productCode = RecordedText(record.code);
    const MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(record.context);

    std::wstring displayName = ReadDisplayName(productCode, context);
    RecordInstallationName(installation, displayName);
    std::wstring line = L"Determining update application order for product '" + displayName + L"'.";
    LogMessage(line.c_str());
    LogFormattedMessage(L"Product '%s' is installed %s.", displayName.c_str(), InstallContextName(context));

    PatchSequence sequence;
    std::vector<const wchar_t*> names;  // lent by table, parallel to sequence
    for (uint32_t j = 0; j < patchCount; ++j) {
        const wchar_t* fileName = table[static_cast<size_t>(InstallationPatch(installation, j).index)].fileName;
        if (!sequence.Append(std::wstring(folder) + L"\\" + fileName))
            return 1;
        names.push_back(fileName);
    }

    UINT sequenced =
        MsiDeterminePatchSequenceW(productCode.c_str(), nullptr, context, sequence.Count(), sequence.Data());
    if (sequenced != ERROR_SUCCESS) {
        LogFailure(RunStep::Sequencing, sequenced, L"MsiDeterminePatchSequence failed with error=%u", sequenced);
        return 1;
    }

    // The applicable entries in application order: by dwOrder, entries that share one in
    // index-list order. Sorting rather than walking every level up to the highest keeps a
    // huge dwOrder from turning into billions of empty levels.
    std::vector<DWORD> applicable;
    for (DWORD j = 0; j < sequence.Count(); ++j) {
        if (sequence[j].uStatus == 0 && SignedOrder(sequence[j]) >= 0)
            applicable.push_back(j);
        else
            RecordPatchAnswer(installation, j, PatchStatus::NotApplicable, sequence[j].uStatus);
    }
    if (applicable.empty()) {
        LogMessage(L"No updates required.");
        return 0;
    }
    // Into dwOrder order, keeping index-list order among equals: an insertion sort, since a
    // product has few patches and std::stable_sort would add its merge sort to the program.
    for (size_t i = 1; i < applicable.size(); ++i) {
        DWORD entry = applicable[i];
        size_t k = i;
        for (; k > 0 && SignedOrder(sequence[applicable[k - 1]]) > SignedOrder(sequence[entry]); --k)
            applicable[k] = applicable[k - 1];
        applicable[k] = entry;
    }

    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

    std::wstring installingFormat = LoadResString(IDS_INSTALLING_FORMAT);
    for (DWORD j : applicable) {
        int32_t state =
            ReadPatchState(RecordedPatchCode(InstallationPatch(installation, j).index), productCode, context);
        const ListedPatchState* listed = nullptr;
        for (const ListedPatchState& known : listedPatchStates) {
            if (known.state == state)
                listed = &known;
        }
        if (listed != nullptr) {
            // A second run changes nothing.
            ReportStatus(LoadResString(listed->format), names[j], displayName, progress);
            RecordPatchState(installation, j, listed->status, state);
            continue;
        }

        if (!appState.logFolder.empty()) {
            std::wstring logName = appState.logFolder + names[j] + L" " + productCode + L".log";
            MsiEnableLogW(INSTALLLOGMODE_VERBOSE, VerboseLogInWorkingFolder(folder, logName).c_str(), 0);
        }

        ReportStatus(installingFormat, names[j], displayName, progress);

        UINT result = MsiApplyPatchW(sequence[j].szPatchData, nullptr, INSTALLTYPE_DEFAULT, patchCommandLine);
        if (result == ERROR_SUCCESS_REBOOT_REQUIRED) {
            *rebootRequired = true;
        } else if (result != ERROR_SUCCESS) {
            // The failure line goes to the log only; the window learns of it from the run's end.
            RecordPatchAnswer(installation, j, PatchStatus::Failed, result);
            LogFailure(RunStep::Applying, result, L"MsiApplyPatch failed with error=%u", result);
            return static_cast<int>(result);
        }
        RecordPatchAnswer(installation, j, PatchStatus::Applied, result);
        LogMessage(L"MsiApplyPatch succeeded.");
    }
    return 0;
}
