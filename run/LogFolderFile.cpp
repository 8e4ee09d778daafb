// The checked open of files in the log folder. Opening first and checking the handle
// afterwards leaves no moment between the check and the write: whatever the path led to, the
// handle is what gets written, and it is refused unless it is the file asked for.
#include "LogFolderFile.h"

#include <strsafe.h>

#include <cwchar>

#include "AppState.h"
#include "Files.h"
#include "UniqueHandle.h"

bool IsPlainLogFile(const BY_HANDLE_FILE_INFORMATION& information)
{
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return information.nNumberOfLinks == 1;
}

// The part of a path after the prefix that only marks its form; unc tells whether it names a
// share ("\\server\share\..." and "\\?\UNC\server\share\..." are the same place).
static const wchar_t* PathBody(const wchar_t* path, bool& unc)
{
    unc = false;
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        unc = true;
        return path + 8;
    }
    if (wcsncmp(path, L"\\\\?\\", 4) == 0 || wcsncmp(path, L"\\??\\", 4) == 0)
        return path + 4;
    if (wcsncmp(path, L"\\\\", 2) == 0) {
        unc = true;
        return path + 2;
    }
    return path;
}

bool FinalPathMatches(const std::wstring& asked, const std::wstring& finalPath)
{
    bool askedUnc = false;
    bool finalUnc = false;
    const wchar_t* a = PathBody(asked.c_str(), askedUnc);
    const wchar_t* b = PathBody(finalPath.c_str(), finalUnc);
    if (askedUnc != finalUnc || *a == L'\0' || *b == L'\0')
        return false;
    // File systems compare names without regard to case; so does this.
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Longer paths than this are not checked, and so not written: the log folder is made with
// plain paths, which are limited to MAX_PATH.
enum : DWORD { CheckedPathLength = 4 * MAX_PATH };

// Whether the open file is the one that path names, with no link on the way.
static bool HandleIsAtPath(HANDLE file, const std::wstring& path)
{
    wchar_t full[CheckedPathLength];
    wchar_t asked[CheckedPathLength];
    wchar_t actual[CheckedPathLength];
    DWORD length = GetFullPathNameW(path.c_str(), CheckedPathLength, full, nullptr);
    if (length == 0 || length >= CheckedPathLength)
        return false;
    // Short (8.3) names in what was asked are expanded; the final path has long names only.
    length = GetLongPathNameW(full, asked, CheckedPathLength);
    if (length == 0 || length >= CheckedPathLength)
        StringCchCopyW(asked, CheckedPathLength, full);
    length = GetFinalPathNameByHandleW(file, actual, CheckedPathLength, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= CheckedPathLength)
        return false;
    return FinalPathMatches(asked, actual);
}

// Every share mode: the probe itself takes no access that others could be refused for.
const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Deletes the file that probe has open, through a new handle to the same file that may delete
// it (the probe reads attributes only).
static void DeleteThroughHandle(HANDLE probe)
{
    FileHandle file(ReOpenFile(probe, DELETE, ShareAll, FILE_FLAG_OPEN_REPARSE_POINT));
    if (file)
        MarkForDeletion(file.get());
}

FileHandle OpenLogFolderFile(const wchar_t* name)
{
    if (appState.logFolder.empty())
        return FileHandle();
    std::wstring path = appState.logFolder + name;
    // First a probe that reads attributes only: it opens or creates the file as it is, without
    // following a reparse point and without emptying it, and leaves every share mode open so
    // that a refused file it created can still be deleted through it.
    FileHandle probe(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!probe)
        return FileHandle();
    bool created = GetLastError() != ERROR_ALREADY_EXISTS;

    BY_HANDLE_FILE_INFORMATION information;
    bool accepted = GetFileInformationByHandle(probe.get(), &information) && IsPlainLogFile(information) &&
                    HandleIsAtPath(probe.get(), path);
    // Then the writer, on the very file the probe checked: shared for reading only, so that a
    // second updater logging into the same folder is refused. It is emptied only once it has
    // proved to be the file asked for, as a creation that replaces the file would be.
    FileHandle file;
    if (accepted)
        file.reset(ReOpenFile(probe.get(), GENERIC_WRITE, FILE_SHARE_READ, 0));
    if (file &&
        (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file.get())))
        file.reset();
    if (!accepted && created)
        DeleteThroughHandle(probe.get());
    return file;
}
