// Listing every installation on the machine once per run, telling the running account's own
// from other accounts', and reading an installation's properties and its patches' states.
// MsiEnumProductsExW is asked for every product rather than for each target: Wine compares a
// given product code with its registry keys' packed form and so never finds one, and one
// listing serves every target of the run.
#include "Installations.h"

#include <sddl.h>

#include <cwchar>

#include "InstallerText.h"
#include "UniqueHandle.h"

namespace {

// A SID's text has at most 184 characters (15 sub-authorities); Wine refuses to repeat an
// index after ERROR_MORE_DATA, so the buffer is made large enough for any at the first call.
const DWORD sidCapacity = 256;

}  // namespace

UINT ListInstallations(std::vector<ListedInstallation>& found)
{
    for (DWORD index = 0;; ++index) {
        wchar_t code[39] = L"";
        MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
        wchar_t sid[sidCapacity] = L"";
        DWORD sidLength = sidCapacity;
        UINT result =
            MsiEnumProductsExW(nullptr, L"S-1-1-0", MSIINSTALLCONTEXT_ALL, index, code, &context, sid, &sidLength);
        if (result == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS)
            return result;
        ListedInstallation installation;
        installation.productCode = code;
        installation.context = context;
        if (context != MSIINSTALLCONTEXT_MACHINE)
            installation.userSid = sid;
        found.push_back(installation);
    }
}

std::wstring RunningAccountSid()
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::wstring();
    // TOKEN_USER followed by the SID it points to.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    BOOL read = GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size);
    DWORD error = GetLastError();
    token.reset();
    if (!read) {
        SetLastError(error);
        return std::wstring();
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        return std::wstring();
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

bool SameProductCode(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

UINT ReadInstalledProperty(const std::wstring& productCode, MSIINSTALLCONTEXT context, const wchar_t* property,
                           std::vector<wchar_t>& buffer)
{
    auto call = [&](wchar_t* text, DWORD* count) {
        return MsiGetProductInfoExW(productCode.c_str(), nullptr, context, property, text, count);
    };
    return ReadInstallerText(ERROR_SUCCESS, call, buffer);
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

std::wstring ReadInstallationState(const std::wstring& productCode, const wchar_t* userSid, MSIINSTALLCONTEXT context)
{
    wchar_t state[16] = L"";
    DWORD count = ARRAYSIZE(state);
    UINT result =
        MsiGetProductInfoExW(productCode.c_str(), userSid, context, INSTALLPROPERTY_PRODUCTSTATE, state, &count);
    return result == ERROR_SUCCESS ? std::wstring(state) : std::wstring();
}

int32_t ReadPatchState(const std::wstring& patchCode, const std::wstring& productCode, MSIINSTALLCONTEXT context,
                       UINT* answer)
{
    UINT ignored = 0;
    UINT& result = answer != nullptr ? *answer : ignored;
    result = ERROR_UNKNOWN_PATCH;
    if (patchCode.empty())
        return -1;
    wchar_t state[16] = L"";
    DWORD count = ARRAYSIZE(state);
    result = MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), nullptr, context, INSTALLPROPERTY_PATCHSTATE,
                                state, &count);
    if (result != ERROR_SUCCESS)
        return -1;
    if (state[0] < L'0' || state[0] > L'9' || state[1] != L'\0') {
        result = ERROR_INVALID_DATA;
        return -1;
    }
    return state[0] - L'0';
}
