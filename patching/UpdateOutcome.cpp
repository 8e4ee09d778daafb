// Reading an installation's properties, the name of its context for the log, and the
// outcome of a product whose turn has not come.
#include "UpdateOutcome.h"

UINT ReadInstalledProperty(const std::wstring& productCode, MSIINSTALLCONTEXT context, const wchar_t* property,
                           std::vector<wchar_t>& buffer)
{
    DWORD count = 0;
    UINT result = MsiGetProductInfoExW(productCode.c_str(), nullptr, context, property, nullptr, &count);
    if (result != ERROR_SUCCESS)
        return result;
    count += 1;
    buffer.assign(count, L'\0');
    result = MsiGetProductInfoExW(productCode.c_str(), nullptr, context, property, buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';
    return ERROR_SUCCESS;
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
    outcome.userSid = installation.userSid;
    for (int32_t index : installation.indexes) {
        PatchOutcome patch;
        patch.index = index;
        outcome.patches.push_back(patch);
    }
    return outcome;
}
