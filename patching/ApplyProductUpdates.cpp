// One product installation's patches, on the worker thread: name lookup, sequencing by
// Windows Installer in the context the product is installed in and each patch's state before
// the transaction; then one MsiApplyMultiplePatchesW per patch to apply, in the order Windows
// Installer gave, or one MsiRemovePatchesW per patch to remove, in the reverse of it. Owns the heap copies of the patch paths in the sequence array for the length
// of one sequencing.
#include "ApplyProductUpdates.h"

#include <windows.h>

#include <msi.h>
#include <strsafe.h>

#include <cstdlib>

#include "AppState.h"
#include "Installations.h"
#include "Log.h"
#include "StringTable.h"
#include "VerboseLogs.h"
#include "resource.h"

namespace {

// The sequence array handed to MsiDeterminePatchSequenceW. Each szPatchData is a _wcsdup
// copy freed here, so every way out of the sequencing releases them.
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

const ListedPatchState* ListedState(int32_t state)
{
    for (const ListedPatchState& known : listedPatchStates) {
        if (known.state == state)
            return &known;
    }
    return nullptr;
}

// Formats a patch's status line (the patch's file name, then the product's name), logs it and
// shows it.
void ReportStatus(UINT format, const wchar_t* fileName, const std::wstring& displayName, const UpdateProgress& progress)
{
    wchar_t status[512];
    StringCchPrintfW(status, ARRAYSIZE(status), LoadResString(format).c_str(), fileName, displayName.c_str());
    LogMessage(status);
    progress.ShowStatus(status);
}

// Whether the status leaves the patch in place on the installation, as far as the run knows.
bool InPlace(PatchStatus status)
{
    return status == PatchStatus::AlreadyApplied || status == PatchStatus::Superseded ||
           status == PatchStatus::Obsolete;
}

// Reads, records and logs the installation's name, and says which order is being determined.
void NameInstallation(RunRecord& record, InstallationPlan& plan, const std::wstring& productCode,
                      MSIINSTALLCONTEXT context, const wchar_t* order)
{
    plan.displayName = ReadDisplayName(productCode, context);
    record.RecordInstallationName(plan.installation, plan.displayName);
    std::wstring line = L"Determining update ";
    line += order;
    line += L" order for product '";
    line += plan.displayName;
    line += L"'.";
    LogMessage(line.c_str());
    LogFormattedMessage(L"Product '%s' is installed %s.", plan.displayName.c_str(), InstallContextName(context));
}

// The first restart action that a patch to change adds keeps the installation out of the
// transaction (done: "applied" or "removed", as the log says it).
void NoteRestartAction(const RunRecord& record, const UpdateTable& table, InstallationPlan& plan, const wchar_t* done)
{
    for (uint32_t j : plan.toApply) {
        int32_t index = record.patches[record.installations[plan.installation].firstPatch + j].index;
        std::wstring action = record.PatchRestartAction(index);
        if (action.empty() || !plan.restartAction.empty())
            continue;
        plan.restartAction = action;
        LogFormattedMessage(
            L"Update '%s' adds %s, which Windows Installer does not run inside an MSI transaction; "
            L"the updates of '%s' are %s after the transaction, on their own.",
            table[static_cast<size_t>(index)].fileName, action.c_str(), plan.displayName.c_str(), done);
    }
}

}  // namespace

int PlanProductUpdates(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                       InstallationPlan& plan)
{
    RunRecord& record = run.record;
    const uint32_t installation = plan.installation;
    const uint32_t patchCount = record.installations[installation].patchCount;
    if (patchCount == 0)
        return 0;
    const std::wstring productCode = record.Text(record.installations[installation].code);
    const MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(record.installations[installation].context);

    NameInstallation(record, plan, productCode, context, L"application");

    PatchSequence sequence;
    for (uint32_t j = 0; j < patchCount; ++j) {
        const wchar_t* fileName = table[static_cast<size_t>(record.InstallationPatch(installation, j).index)].fileName;
        if (!sequence.Append(std::wstring(run.folder) + L"\\" + fileName))
            return 1;
    }

    UINT sequenced =
        MsiDeterminePatchSequenceW(productCode.c_str(), nullptr, context, sequence.Count(), sequence.Data());
    if (sequenced != ERROR_SUCCESS) {
        record.LogFailure(RunStep::Sequencing, sequenced, L"MsiDeterminePatchSequence failed with error=%u", sequenced);
        return 1;
    }

    // Each entry as Windows Installer sequenced it: one to apply has an order and status 0; one
    // left out with status 0 is superseded or obsolete; any other status does not apply.
    bool anyTargetNotFound = false;
    for (uint32_t j = 0; j < patchCount; ++j) {
        const MSIPATCHSEQUENCEINFOW& entry = sequence[j];
        const PatchRecord& patch = record.InstallationPatch(installation, j);
        if (entry.uStatus != ERROR_SUCCESS) {
            anyTargetNotFound = anyTargetNotFound || entry.uStatus == ERROR_PATCH_TARGET_NOT_FOUND;
            record.RecordPatchAnswer(installation, j, PatchStatus::NotApplicable, entry.uStatus);
            continue;
        }
        int32_t state = ReadPatchState(record.PatchCode(patch.index), productCode, context);
        const ListedPatchState* listed = ListedState(state);
        if (listed == nullptr && SignedOrder(entry) < 0)
            listed = ListedState(MSIPATCHSTATE_SUPERSEDED);
        const wchar_t* fileName = table[static_cast<size_t>(patch.index)].fileName;
        if (listed != nullptr) {
            // A second run changes nothing.
            ReportStatus(listed->format, fileName, plan.displayName, progress);
            record.RecordPatchState(installation, j, listed->status, state);
            continue;
        }
        plan.toApply.push_back(j);
    }
    // Into dwOrder order, keeping index-list order among equals: an insertion sort, since a
    // product has few patches and std::stable_sort would add its merge sort to the program.
    std::vector<uint32_t>& order = plan.toApply;
    for (size_t i = 1; i < order.size(); ++i) {
        uint32_t entry = order[i];
        size_t k = i;
        for (; k > 0 && SignedOrder(sequence[order[k - 1]]) > SignedOrder(sequence[entry]); --k)
            order[k] = order[k - 1];
        order[k] = entry;
    }

    // Made for this product at another baseline or language, and nothing else fits it: a run
    // that said "up to date" here would leave the installation unpatched for good.
    bool anyInPlace = false;
    for (uint32_t j = 0; j < patchCount; ++j)
        anyInPlace = anyInPlace || InPlace(record.InstallationPatch(installation, j).status);
    if (order.empty() && !anyInPlace && anyTargetNotFound) {
        plan.targetNotFound = true;
        for (uint32_t j = 0; j < patchCount; ++j) {
            PatchRecord& patch = record.InstallationPatch(installation, j);
            if (patch.status != PatchStatus::NotApplicable || patch.resultCode != ERROR_PATCH_TARGET_NOT_FOUND)
                continue;
            patch.status = PatchStatus::TargetNotFound;
            record.LogFailure(RunStep::Sequencing, ERROR_PATCH_TARGET_NOT_FOUND,
                              L"Update '%s' does not apply to '%s' as installed.",
                              table[static_cast<size_t>(patch.index)].fileName, plan.displayName.c_str());
        }
    } else if (order.empty()) {
        LogMessage(L"No updates required.");
    }

    NoteRestartAction(record, table, plan, L"applied");
    return 0;
}

int ChangeProductUpdates(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                         const InstallationPlan& plan, InstallationChange change, const wchar_t* properties,
                         bool* rebootRequired)
{
    const bool removal = change == InstallationChange::Remove;
    const wchar_t* const call = removal ? L"MsiRemovePatches" : L"MsiApplyPatch";
    RunRecord& record = run.record;
    const uint32_t installation = plan.installation;
    const std::wstring productCode = record.Text(record.installations[installation].code);
    for (uint32_t j : plan.toApply) {
        int32_t index = record.InstallationPatch(installation, j).index;
        const wchar_t* fileName = table[static_cast<size_t>(index)].fileName;
        if (!appState.logFolder.empty()) {
            std::wstring name = VerboseLogName(fileName, productCode, removal);
            record.RecordVerboseLog(installation, j, name);
            MsiEnableLogW(INSTALLLOGMODE_VERBOSE, run.verboseLogs.Place(run.folder, name).c_str(), 0);
        }

        ReportStatus(removal ? IDS_REMOVING_FORMAT : IDS_INSTALLING_FORMAT, fileName, plan.displayName, progress);

        UINT result;
        if (removal) {
            // By its code, from this product only; Windows Installer removes it with the copy it
            // cached when the patch was applied.
            result = MsiRemovePatchesW(record.PatchCode(index).c_str(), productCode.c_str(),
                                       INSTALLTYPE_SINGLE_INSTANCE, properties);
        } else {
            // To this product only: MsiApplyPatchW without a product applies the patch to every
            // product it names at once, which would patch an x86 product during an x64 product's
            // turn, out of the 64-bit-first order, and leave the second turn nothing to do but to
            // overwrite the first turn's verbose log. The path holds no ';', which would split this
            // list of one (the run refuses such a name before it begins). The log lines keep the
            // name MsiApplyPatch, which scripts that read the log look for.
            std::wstring path = std::wstring(run.folder) + L"\\" + fileName;
            result = MsiApplyMultiplePatchesW(path.c_str(), productCode.c_str(), properties);
        }
        // 1641 means Windows Installer began a restart itself, which it never does inside a
        // transaction nor with REBOOT=ReallySuppress: should it come all the same, the change is
        // made and a restart is due, as with 3010.
        if (result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_REBOOT_INITIATED) {
            *rebootRequired = true;
        } else if (result != ERROR_SUCCESS) {
            // The failure line goes to the log only; the window learns of it from the run's end.
            record.RecordPatchAnswer(installation, j, PatchStatus::Failed, result);
            record.LogFailure(removal ? RunStep::Removing : RunStep::Applying, result, L"%s failed with error=%u", call,
                              result);
            return static_cast<int>(result);
        }
        record.RecordPatchAnswer(installation, j, removal ? PatchStatus::Removed : PatchStatus::Applied, result);
        LogFormattedMessage(L"%s succeeded.", call);
    }
    return 0;
}

int PlanProductRemoval(RunContext& run, const UpdateTable& table, const UpdateProgress& progress,
                       InstallationPlan& plan)
{
    RunRecord& record = run.record;
    const uint32_t installation = plan.installation;
    const uint32_t patchCount = record.installations[installation].patchCount;
    if (patchCount == 0)
        return 0;
    const std::wstring productCode = record.Text(record.installations[installation].code);
    const MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(record.installations[installation].context);
    NameInstallation(record, plan, productCode, context, L"removal");

    // The listed ones first go into plan.toApply in the carried order.
    std::vector<uint32_t>& listed = plan.toApply;
    for (uint32_t j = 0; j < patchCount; ++j) {
        const PatchRecord& patch = record.InstallationPatch(installation, j);
        int32_t state = ReadPatchState(record.PatchCode(patch.index), productCode, context);
        if (ListedState(state) == nullptr) {
            ReportStatus(IDS_NOT_INSTALLED_FORMAT, table[static_cast<size_t>(patch.index)].fileName, plan.displayName,
                         progress);
            record.RecordPatchState(installation, j, PatchStatus::NotApplicable, -1);
            continue;
        }
        record.InstallationPatch(installation, j).patchState = state;
        listed.push_back(j);
    }
    if (listed.empty()) {
        LogMessage(L"No updates to remove.");
        return 0;
    }

    // Windows Installer's order of the listed patches; one it leaves out (superseded or obsolete
    // by another of them) came before the rest.
    PatchSequence sequence;
    for (uint32_t j : listed) {
        const wchar_t* fileName = table[static_cast<size_t>(record.InstallationPatch(installation, j).index)].fileName;
        if (!sequence.Append(std::wstring(run.folder) + L"\\" + fileName))
            return 1;
    }
    UINT sequenced =
        MsiDeterminePatchSequenceW(productCode.c_str(), nullptr, context, sequence.Count(), sequence.Data());
    if (sequenced != ERROR_SUCCESS)
        LogFormattedMessage(L"MsiDeterminePatchSequence failed with error=%u; removing in the reverse carried order.",
                            sequenced);
    // Positions into listed, into the order of application: an insertion sort, as for applying,
    // keeping the carried order among equals. Then the reverse of it.
    const size_t count = listed.size();
    std::vector<uint32_t> order(count);
    for (uint32_t k = 0; k < count; ++k)
        order[k] = k;
    for (size_t i = 1; sequenced == ERROR_SUCCESS && i < count; ++i) {
        uint32_t entry = order[i];
        size_t k = i;
        for (; k > 0 && SignedOrder(sequence[order[k - 1]]) > SignedOrder(sequence[entry]); --k)
            order[k] = order[k - 1];
        order[k] = entry;
    }
    std::vector<uint32_t> removal(count);
    for (size_t k = 0; k < count; ++k)
        removal[k] = listed[order[count - 1 - k]];
    listed.swap(removal);

    NoteRestartAction(record, table, plan, L"removed");
    return 0;
}
