// What an update run did, product installation by product installation and patch by patch,
// as Windows Installer answered. Filled on the worker thread by ApplyUpdates and
// ApplyProductUpdates; read once the run has returned (by whatever records the result).
#pragma once

#include <windows.h>

#include <msi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PatchStatus.h"
#include "ProductPatchMap.h"

// One target product as installed in one context for the running account (or the machine):
// its code as the patches spell it, the account's SID for a per-user installation (empty for
// the machine) and the carried patches (indexes into the UpdateTable) that target it.
// Windows Installer is asked about it with a null SID, which means the running account.
struct ProductInstallation {
    std::wstring productCode;
    MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE;
    std::wstring userSid;
    PatchIndexList indexes;
};

// Reads a property of a product as installed in one context (MsiGetProductInfoExW, the
// current user's SID) with the two-call size protocol. ERROR_SUCCESS with buffer holding the
// terminated value, or the error of the call that failed.
UINT ReadInstalledProperty(const std::wstring& productCode, MSIINSTALLCONTEXT context, const wchar_t* property,
                           std::vector<wchar_t>& buffer);

// "per-machine", "per-user" (unmanaged) or "per-user (managed)".
const wchar_t* InstallContextName(MSIINSTALLCONTEXT context);

struct PatchOutcome {
    int32_t index = 0;  // into the UpdateTable
    PatchStatus status = PatchStatus::NotAttempted;
    // MsiApplyPatchW's answer for Applied, Failed and NotRegistered; uStatus of the sequencing
    // for NotApplicable; 0 otherwise.
    UINT installerResult = 0;
    // The MSIPATCHSTATE Windows Installer listed the patch with on the installation, before
    // applying (AlreadyApplied, Superseded, Obsolete) or after the commit; -1 where none was read.
    int32_t patchState = -1;
};

struct ProductOutcome {
    std::wstring productCode;
    MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE;
    std::wstring userSid;
    std::wstring displayName;     // empty until the product's turn came
    UINT sequenceResult = 0;      // MsiDeterminePatchSequenceW's answer
    std::vector<PatchOutcome> patches;  // one per index, in index-list order
};

struct UpdateRunOutcome {
    std::vector<ProductOutcome> products;  // installed targets, in the order they were applied
    std::vector<std::wstring> notInstalled;  // targets installed nowhere on the machine
    UINT commitResult = 0;  // MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT), when made
    bool rebootRequired = false;
};

// A fresh outcome for an installation whose turn has not come: every patch not attempted.
ProductOutcome PendingOutcome(const ProductInstallation& installation);
