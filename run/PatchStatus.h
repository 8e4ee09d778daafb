// What became of one carried patch on one product installation: what the update run reports
// and what the result file names.
#pragma once

#include <cstdint>

enum class PatchStatus : uint8_t {
    NotAttempted,         // applicable, but the run ended before its turn
    Applied,              // MsiApplyPatchW answered 0 or 3010
    AlreadyApplied,       // Windows Installer had it registered as applied already
    NotApplicable,        // not sequenced for this product, or the product is not installed
    Failed,               // MsiApplyPatchW answered an error
    RolledBack,           // applied, then undone with the rest of the transaction
    Superseded,           // Windows Installer lists it as superseded on the installation (state 2)
    Obsolete,             // Windows Installer lists it as obsolete on the installation (state 4)
    OtherAccount,         // installed per-user for another account, which this run cannot patch
    NotRegistered,        // applied, yet not listed as installed once the transaction committed
    TargetNotFound,       // Windows Installer finds nothing of the installation it was made for
    OtherContext,         // the account's installation in another context, which Windows Installer
                          // does not patch while the account has the product in the one it prefers
    Unknown,              // applied, then a commit failed and its state could not be read back
    WouldApply,           // a check found that an update run would apply it
    PackageCacheMissing,  // to be applied, but its installation's cached package or the cached
                          // copy of a patch applied to it is gone: nothing was changed
    Removed,              // MsiRemovePatchesW answered 0 or 3010
    NotRemovable,         // listed, but Windows Installer or the patch itself does not allow its
                          // removal: nothing was removed
    StillListed,          // removed, yet still listed once the transaction committed
};
const int patchStatusCount = 18;
