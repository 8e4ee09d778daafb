// The checks before the first change.
#include "BeforeChanges.h"

#include <windows.h>

#include <msi.h>
#include <strsafe.h>

#include <string>
#include <vector>

#include "InstalledPackage.h"
#include "Installations.h"
#include "InstallerText.h"
#include "Log.h"
#include "PendingRestart.h"
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

}  // namespace

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
