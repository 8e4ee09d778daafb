// The name of an installation context for the log, and the outcome of a product whose turn
// has not come.
#include "UpdateOutcome.h"

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
