// What the run reads from an installation's cached package (LocalPackage) before anything
// changes: the platform it was built for, and whether its execute sequence restarts Windows.
// Worker thread, before the transaction begins.
#pragma once

#include <windows.h>

#include <msi.h>

#include <string>

#include "RunRecord.h"

struct InstalledPackage {
    PackagePlatform platform = PackagePlatform::Unknown;
    // "ForceReboot" or "ScheduleReboot" when the package's InstallExecuteSequence holds one;
    // empty when it holds neither.
    std::wstring restartAction;
    // Where Windows Installer keeps its copy of the package (LocalPackage); empty while unread.
    std::wstring localPackage;
};

// True when Windows Installer's cached copy at path is gone (the file or its folder is not
// found), which Windows Installer needs to change the installation: it then fails halfway
// through with 1612 or a prompt for the source. Any other answer counts as present.
bool CachedFileMissing(const wchar_t* path);

// The platform that a package's template ("x64;1033") names before its first semicolon, without
// regard to case: x64 and AMD64 (the older name of the same) are X64, Intel64 is Ia64, Arm64
// is Arm64, and anything else is a 32-bit package (X86).
PackagePlatform PlatformOfTemplate(const wchar_t* templateText);

// True for the platforms whose packages go into the 64-bit group.
bool Is64BitPlatform(PackagePlatform platform);

// Opens the installation's cached package read-only and reads its template and restart
// actions. ERROR_SUCCESS, or the error of the call that failed; ERROR_INSTALL_SOURCE_ABSENT
// when the cached package is gone (package.localPackage names it). A package without an
// InstallExecuteSequence table has no restart action.
UINT ReadInstalledPackage(const std::wstring& productCode, MSIINSTALLCONTEXT context, InstalledPackage& package);
