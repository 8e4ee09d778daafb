// The checks before the first change.
#include "BeforeChanges.h"

#include <windows.h>

#include <msi.h>
#include <strsafe.h>

#include <string>
#include <vector>

#include "DatabaseQuery.h"
#include "InstalledPackage.h"
#include "Installations.h"
#include "InstallerText.h"
#include "Log.h"
#include "MsiHandle.h"
#include "PendingRestart.h"
#include "SummaryInformation.h"
#include "UniqueHandle.h"

void RecordPendingRestart(RunRecord& record)
{
    uint32_t signs = ReadPendingRestartSigns();
    record.restartPendingBefore = signs != 0 ? 1 : 0;
    record.restartPendingSigns = signs;
    for (const PendingRestartSignName& sign : pendingRestartSignNames) {
        if (signs & sign.sign)
            LogFormattedMessage(L"Windows is waiting for a restart already: %s.", sign.logName);
    }
}

namespace {

// The codes of the patches Windows Installer lists as applied to the installation. 0, or the
// error that ended the listing.
UINT ListAppliedPatches(const std::wstring& productCode, MSIINSTALLCONTEXT context, std::vector<std::wstring>& codes)
{
    for (DWORD index = 0;; ++index) {
        wchar_t code[39] = L"";
        UINT result = MsiEnumPatchesExW(productCode.c_str(), nullptr, context, MSIPATCHSTATE_APPLIED, index, code,
                                        nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS)
            return result;
        codes.push_back(code);
    }
}

// Whether the carried patch at path allows its removal: the standard row of its own
// MsiPatchMetadata table ("MsiPatchMetadata Table": Company null, AllowRemoval 1). A patch without
// the table or the row does not. ERROR_SUCCESS, or the error of the call that failed.
UINT ReadAllowsRemoval(const std::wstring& path, bool& allows)
{
    allows = false;
    MsiHandle database;
    UINT result = MsiOpenDatabaseW(path.c_str(), patchOpenMode, database.put());
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t value[8];
    bool found = false;
    UINT read = ERROR_SUCCESS;
    result = QueryFirstText(database.get(),
                            L"SELECT `Value` FROM `MsiPatchMetadata` WHERE `Company` IS NULL AND "
                            L"`Property` = 'AllowRemoval'",
                            value, ARRAYSIZE(value), &found, &read);
    allows = found && wcscmp(value, L"1") == 0;
    return result;
}

// Whether Windows Installer registered the patch on the installation as removable.
bool RegisteredRemovable(const std::wstring& patchCode, const std::wstring& productCode, MSIINSTALLCONTEXT context)
{
    wchar_t value[8] = L"";
    DWORD count = ARRAYSIZE(value);
    return MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), nullptr, context, INSTALLPROPERTY_UNINSTALLABLE,
                              value, &count) == ERROR_SUCCESS &&
           wcscmp(value, L"1") == 0;
}

}  // namespace

int CheckRemovable(RunContext& run, const UpdatePlan& plan)
{
    RunRecord& record = run.record;
    // What each carried patch says of itself, read once: -1 not yet read.
    std::vector<int> allows(plan.table.size(), -1);
    bool any = false;
    for (const InstallationPlan& installation : plan.installations) {
        const InstallationRecord& listed = record.installations[installation.installation];
        const std::wstring productCode = record.Text(listed.code);
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(listed.context);
        for (uint32_t j : installation.toApply) {
            PatchRecord& patch = record.InstallationPatch(installation.installation, j);
            size_t index = static_cast<size_t>(patch.index);
            const wchar_t* fileName = plan.table[index].fileName;
            if (allows[index] < 0) {
                bool allowed = false;
                UINT result = ReadAllowsRemoval(std::wstring(run.folder) + L"\\" + fileName, allowed);
                if (result != ERROR_SUCCESS) {
                    record.LogFailure(RunStep::ReadingPatch, result,
                                      L"Reading whether patch '%s' allows its removal failed with error=%u.", fileName,
                                      result);
                    return 1;
                }
                allows[index] = allowed ? 1 : 0;
            }
            const wchar_t* reason = nullptr;
            if (allows[index] == 0)
                reason = L"its MsiPatchMetadata does not allow removal";
            else if (!RegisteredRemovable(record.PatchCode(patch.index), productCode, context))
                reason = L"Windows Installer does not list it as removable";
            if (reason == nullptr)
                continue;
            patch.status = PatchStatus::NotRemovable;
            LogFormattedMessage(L"Update '%s' cannot be removed from '%s' (%s): %s.", fileName,
                                installation.displayName.c_str(), InstallContextName(context), reason);
            any = true;
        }
    }
    if (!any)
        return 0;
    record.LogFailure(RunStep::Removability, ERROR_PATCH_REMOVAL_UNSUPPORTED,
                      L"Nothing was removed: not every update can be removed.");
    return ERROR_PATCH_REMOVAL_UNSUPPORTED;
}

int CheckCachedPatches(RunRecord& record, const UpdatePlan& plan)
{
    int outcome = 0;
    for (const InstallationPlan& installation : plan.installations) {
        if (installation.toApply.empty())
            continue;
        const InstallationRecord& listed = record.installations[installation.installation];
        const std::wstring productCode = record.Text(listed.code);
        MSIINSTALLCONTEXT context = static_cast<MSIINSTALLCONTEXT>(listed.context);
        std::vector<std::wstring> applied;
        UINT result = ListAppliedPatches(productCode, context, applied);
        // The check is the run's own: where it cannot be made, Windows Installer answers as it
        // always did.
        if (result != ERROR_SUCCESS) {
            LogFormattedMessage(
                L"Listing the updates applied to '%s' failed with error=%u; their cached copies were not checked.",
                installation.displayName.c_str(), result);
            continue;
        }
        for (const std::wstring& patchCode : applied) {
            std::vector<wchar_t> path;
            auto call = [&](wchar_t* text, DWORD* count) {
                return MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), nullptr, context,
                                          INSTALLPROPERTY_LOCALPACKAGE, text, count);
            };
            // A copy whose place cannot be read is left to Windows Installer, as before.
            if (ReadInstallerText(ERROR_SUCCESS, call, path) != ERROR_SUCCESS || !CachedFileMissing(path.data()))
                continue;
            record.LogFailure(RunStep::PackageCache, ERROR_INSTALL_SOURCE_ABSENT,
                              L"The cached copy of update %s, applied to '%s' (%s), is missing: %s. Repair or "
                              L"reinstall the product before updating it.",
                              patchCode.c_str(), installation.displayName.c_str(), InstallContextName(context),
                              path.data());
            for (uint32_t j : installation.toApply)
                record.InstallationPatch(installation.installation, j).status = PatchStatus::PackageCacheMissing;
            outcome = ERROR_INSTALL_SOURCE_ABSENT;
        }
    }
    return outcome;
}

int WaitForOtherInstallation(RunRecord& record, const UpdateProgress& progress, uint32_t seconds)
{
    if (seconds == 0)
        return 0;
    // Windows Installer holds this mutex while it runs an installation's execute sequence, and
    // answers 1618 to any other installation meanwhile. Taking it for a moment is the only way to
    // tell whether it is held; it is given back at once.
    const DWORD start = GetTickCount();
    const DWORD limit = seconds * 1000;
    bool announced = false;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
        DWORD error = mutex ? 0 : GetLastError();
        // No such mutex: nothing runs.
        if (!mutex && error != ERROR_ACCESS_DENIED)
            break;
        DWORD got = WAIT_TIMEOUT;
        if (mutex)
            got = WaitForSingleObject(mutex.get(), announced ? limit - (elapsed < limit ? elapsed : limit) : 0);
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
            ReleaseMutex(mutex.get());
            break;
        }
        if (!announced) {
            announced = true;
            wchar_t line[160];
            StringCchPrintfW(line, ARRAYSIZE(line),
                             L"Another installation is in progress; waiting up to %u seconds for it to end.", seconds);
            LogMessage(line);
            progress.ShowStatus(line);
            continue;
        }
        elapsed = GetTickCount() - start;
        if (elapsed >= limit) {
            record.LogFailure(RunStep::Waiting, ERROR_INSTALL_ALREADY_RUNNING,
                              L"Another installation was still in progress after %u seconds.", seconds);
            return ERROR_INSTALL_ALREADY_RUNNING;
        }
        // A mutex this account may not wait on: looked at again in a moment.
        if (!mutex || got == WAIT_FAILED)
            Sleep(limit - elapsed < 1000 ? limit - elapsed : 1000);
    }
    if (announced)
        LogMessage(L"The other installation has ended.");
    return 0;
}
