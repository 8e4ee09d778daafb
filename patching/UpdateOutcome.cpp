// Names of the run's outcome values and the outcome of a product whose turn has not come.
#include "UpdateOutcome.h"

const wchar_t* PatchStatusName(PatchStatus status)
{
    switch (status) {
    case PatchStatus::NotAttempted:
        return L"not-attempted";
    case PatchStatus::Applied:
        return L"applied";
    case PatchStatus::AlreadyApplied:
        return L"already-applied";
    case PatchStatus::NotApplicable:
        return L"not-applicable";
    case PatchStatus::Failed:
        return L"failed";
    case PatchStatus::RolledBack:
        return L"rolled-back";
    }
    return L"unknown";
}

const wchar_t* InstallContextName(MSIINSTALLCONTEXT context)
{
    switch (context) {
    case MSIINSTALLCONTEXT_MACHINE:
        return L"per-machine";
    case MSIINSTALLCONTEXT_USERUNMANAGED:
        return L"per-user";
    case MSIINSTALLCONTEXT_USERMANAGED:
        return L"per-user (managed)";
    default:
        return L"unknown";
    }
}

ProductOutcome PendingOutcome(const ProductInstallation& installation)
{
    ProductOutcome outcome;
    outcome.productCode = installation.productCode;
    outcome.context = installation.context;
    for (int32_t index : installation.indexes) {
        PatchOutcome patch;
        patch.index = index;
        outcome.patches.push_back(patch);
    }
    return outcome;
}
