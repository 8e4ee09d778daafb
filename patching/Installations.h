// Where the targeted products are installed: every installation on the machine, for every
// account, as Windows Installer lists them, and which of them the running account can patch.
// Worker thread, before the transaction begins.
#pragma once

#include <windows.h>

#include <msi.h>

#include <cstdint>
#include <string>
#include <vector>

// One product installation as MsiEnumProductsExW lists it.
struct ListedInstallation {
    std::wstring productCode;  // braced, as Windows Installer spells it
    MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE;
    std::wstring userSid;  // the account of a per-user installation; empty for the machine
};

// Every product installation of every account ("S-1-1-0", every context), advertised ones
// included; without allAccounts only the running account's and the machine's, which is all
// that Windows Installer lists for a caller without administrator rights. ERROR_SUCCESS, or the
// error that ended the enumeration.
UINT ListInstallations(std::vector<ListedInstallation>& found, bool allAccounts = true);

// The running account's SID as text; empty when it cannot be read (GetLastError tells why).
std::wstring RunningAccountSid();

// True when the two codes name the same product: GUIDs compare without regard to case, and
// Windows Installer lists codes in capitals whatever case a patch spells them in.
bool SameProductCode(const std::wstring& a, const std::wstring& b);

// The installation's state as Windows Installer gives it (INSTALLPROPERTY_PRODUCTSTATE: "5"
// installed, "1" advertised), asked with userSid (null: the running account or the machine).
// Empty when it cannot be read.
std::wstring ReadInstallationState(const std::wstring& productCode, const wchar_t* userSid, MSIINSTALLCONTEXT context);

// Reads a property of a product as installed in one context for the running account
// (MsiGetProductInfoExW, null SID) with the two-call size protocol. ERROR_SUCCESS with buffer
// holding the terminated value, or the error of the call that failed.
UINT ReadInstalledProperty(const std::wstring& productCode, MSIINSTALLCONTEXT context, const wchar_t* property,
                           std::vector<wchar_t>& buffer);

// "per-machine", "per-user" (unmanaged) or "per-user (managed)", as the log names a context.
const wchar_t* InstallContextName(MSIINSTALLCONTEXT context);

// The state Windows Installer lists the patch with on the running account's installation in
// context (INSTALLPROPERTY_PATCHSTATE: 1 applied, 2 superseded, 4 obsolete), or -1 when it
// lists none there, the answer cannot be read, or the patch has no code. answer, when given,
// receives MsiGetPatchInfoExW's result (ERROR_UNKNOWN_PATCH for a patch without a code,
// ERROR_INVALID_DATA for a state that is not one digit).
int32_t ReadPatchState(const std::wstring& patchCode, const std::wstring& productCode, MSIINSTALLCONTEXT context,
                       UINT* answer = nullptr);
