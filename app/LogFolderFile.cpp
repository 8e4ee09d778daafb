// The checked open of files in the log folder. Opening first and checking the handle
// afterwards leaves no moment between the check and the write: whatever the path led to, the
// handle is what gets written, and it is refused unless it is the file asked for.
#include "LogFolderFile.h"

#include "AppState.h"

bool IsPlainLogFile(const BY_HANDLE_FILE_INFORMATION& information)
{
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return information.nNumberOfLinks == 1;
}

// The path without the prefixes that name the same place in other forms.
static std::wstring WithoutPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\??\\") == 0)
        return path.substr(4);
    return path;
}

bool FinalPathMatches(const std::wstring& asked, const std::wstring& finalPath)
{
    std::wstring a = WithoutPrefix(asked);
    std::wstring b = WithoutPrefix(finalPath);
    if (a.empty() || b.empty())
        return false;
    // File systems compare names without regard to case; so does this.
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

static bool GrowingCall(std::wstring& text, DWORD (*call)(const wchar_t*, HANDLE, wchar_t*, DWORD),
                        const wchar_t* path, HANDLE file)
{
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 3; ++attempt) {
        text.assign(size, L'\0');
        DWORD length = call(path, file, &text[0], size);
        if (length == 0)
            return false;
        if (length < size) {
            text.resize(length);
            return true;
        }
        size = length + 1;
    }
    return false;
}

static DWORD FullPath(const wchar_t* path, HANDLE, wchar_t* buffer, DWORD size)
{
    return GetFullPathNameW(path, size, buffer, nullptr);
}

static DWORD LongPath(const wchar_t* path, HANDLE, wchar_t* buffer, DWORD size)
{
    return GetLongPathNameW(path, buffer, size);
}

static DWORD FinalPath(const wchar_t*, HANDLE file, wchar_t* buffer, DWORD size)
{
    return GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
}

// Whether the open file is the one that path names, with no link on the way.
static bool HandleIsAtPath(HANDLE file, const std::wstring& path)
{
    std::wstring full;
    std::wstring asked;
    std::wstring actual;
    if (!GrowingCall(full, FullPath, path.c_str(), nullptr))
        return false;
    // Short (8.3) names in what was asked are expanded; the final path has long names only.
    if (!GrowingCall(asked, LongPath, full.c_str(), nullptr))
        asked = full;
    if (!GrowingCall(actual, FinalPath, nullptr, file))
        return false;
    return FinalPathMatches(asked, actual);
}

// Every share mode: the probe itself takes no access that others could be refused for.
const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Deletes the file that probe has open, through a new handle to the same file: no path is
// looked up again, so nothing else can be deleted in its place.
static void DeleteThroughHandle(HANDLE probe)
{
    HANDLE file = ReOpenFile(probe, DELETE, ShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(file);
}

HANDLE OpenLogFolderFile(const wchar_t* name)
{
    if (appState.logFolder.empty())
        return INVALID_HANDLE_VALUE;
    std::wstring path = appState.logFolder + name;
    // First a probe that reads attributes only: it opens or creates the file as it is, without
    // following a reparse point and without emptying it, and leaves every share mode open so
    // that a refused file it created can still be deleted through it.
    HANDLE probe = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    bool created = GetLastError() != ERROR_ALREADY_EXISTS;

    BY_HANDLE_FILE_INFORMATION information;
    bool accepted =
        GetFileInformationByHandle(probe, &information) && IsPlainLogFile(information) && HandleIsAtPath(probe, path);
    // Then the writer, on the very file the probe checked: shared for reading only, so that a
    // second updater logging into the same folder is refused. It is emptied only once it has
    // proved to be the file asked for, as a creation that replaces the file would be.
    HANDLE file = INVALID_HANDLE_VALUE;
    if (accepted)
        file = ReOpenFile(probe, GENERIC_WRITE, FILE_SHARE_READ, 0);
    if (file != INVALID_HANDLE_VALUE &&
        (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file))) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    if (!accepted && created)
        DeleteThroughHandle(probe);
    CloseHandle(probe);
    return file;
}
