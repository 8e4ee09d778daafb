// The installation's cached package: its summary information for the platform and one query
// of its InstallExecuteSequence for a restart action. Windows Installer refuses to run such an
// action inside a transaction of several packages, so the run applies that installation's
// patches on their own; only the installed package tells, since the action may come with the
// product rather than with the patch.
#include "InstalledPackage.h"

#include <msidefs.h>
#include <msiquery.h>

#include <cwchar>
#include <vector>

#include "DatabaseQuery.h"
#include "Installations.h"
#include "MsiHandle.h"
#include "SummaryInformation.h"

namespace {

const wchar_t restartQuery[] =
    L"SELECT `Action` FROM `InstallExecuteSequence` WHERE `Action` = 'ForceReboot' OR `Action` = 'ScheduleReboot'";

// The action of the first matching row, or an empty text when there is none.
UINT ReadRestartAction(MSIHANDLE database, std::wstring& action)
{
    // Both names fit; a longer one could only be another action, which the query excludes. The
    // row was found whether or not its name can be read.
    wchar_t name[32];
    bool found = false;
    UINT read = ERROR_SUCCESS;
    UINT result = QueryFirstText(database, restartQuery, name, ARRAYSIZE(name), &found, &read);
    if (result != ERROR_SUCCESS)
        return result;
    action.clear();
    if (found)
        action = name[0] != L'\0' ? name : L"ForceReboot or ScheduleReboot";
    return ERROR_SUCCESS;
}

}  // namespace

PackagePlatform PlatformOfTemplate(const wchar_t* templateText)
{
    const wchar_t* end = wcschr(templateText, L';');
    std::wstring platform(templateText,
                          end == nullptr ? wcslen(templateText) : static_cast<size_t>(end - templateText));
    if (_wcsicmp(platform.c_str(), L"x64") == 0 || _wcsicmp(platform.c_str(), L"AMD64") == 0)
        return PackagePlatform::X64;
    if (_wcsicmp(platform.c_str(), L"Arm64") == 0)
        return PackagePlatform::Arm64;
    if (_wcsicmp(platform.c_str(), L"Intel64") == 0)
        return PackagePlatform::Ia64;
    return PackagePlatform::X86;
}

bool Is64BitPlatform(PackagePlatform platform)
{
    return platform == PackagePlatform::X64 || platform == PackagePlatform::Arm64 || platform == PackagePlatform::Ia64;
}

bool CachedFileMissing(const wchar_t* path)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

UINT ReadInstalledPackage(const std::wstring& productCode, MSIINSTALLCONTEXT context, InstalledPackage& package)
{
    std::vector<wchar_t> buffer;
    UINT result = ReadInstalledProperty(productCode, context, INSTALLPROPERTY_LOCALPACKAGE, buffer);
    if (result != ERROR_SUCCESS)
        return result;
    package.localPackage = buffer.data();
    if (CachedFileMissing(buffer.data()))
        return ERROR_INSTALL_SOURCE_ABSENT;

    MsiHandle database;
    result = MsiOpenDatabaseW(buffer.data(), MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS)
        return result;
    MsiHandle summary;
    result = MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put());
    if (result == ERROR_SUCCESS)
        result = ReadSummaryText(summary.get(), PID_TEMPLATE, buffer);
    if (result != ERROR_SUCCESS)
        return result;
    package.platform = PlatformOfTemplate(buffer.data());
    // The summary information goes before the database it was read from.
    summary.reset();
    return ReadRestartAction(database.get(), package.restartAction);
}
