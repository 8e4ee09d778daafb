// Folder utilities: the folder test, level-by-level creation of an output folder, and the
// working folder of an update run. The working folder is named on the main thread, created
// by CreateWorkingFolder on the worker, and removed by DeleteWorkingFolder when the window goes
// away; the caller deletes it only when CreateWorkingFolder succeeded, so a folder that existed
// before the run is never emptied. No function here keeps state.
#include "Folders.h"

#include <windows.h>
#include <io.h>
#include <objbase.h>
#include <rpc.h>
#include <sddl.h>
#include <strsafe.h>

#include "Log.h"
#include "RunRecord.h"

bool DirectoryExists(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// _waccess counts a file as existing as well as a folder.
static bool PathExists(const wchar_t* path)
{
    return _waccess(path, 0) == 0;
}

int CreateDirectoryPath(const wchar_t* path)
{
    // Each failure leaves the reason in the thread's last error, for the caller's log line.
    size_t length = 0;
    if (FAILED(StringCchLengthW(path, MAX_PATH, &length))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    if (PathExists(path))
        return 0;

    // The longest leading part that exists; the first character is never a level of its own.
    wchar_t level[MAX_PATH];
    size_t existing = 0;
    for (size_t i = length; i-- > 1;) {
        if (!IsSeparator(path[i]))
            continue;
        StringCchCopyW(level, MAX_PATH, path);
        level[i] = L'\0';
        if (PathExists(level)) {
            existing = i;
            break;
        }
    }
    if (existing == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return -1;
    }

    // Each separator after it, and the end of the path, closes one level to create.
    for (size_t i = existing + 1; i <= length; ++i) {
        if (i < length && !IsSeparator(path[i]))
            continue;
        StringCchCopyW(level, MAX_PATH, path);
        level[i] = L'\0';
        if (!CreateDirectoryW(level, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return 0;
}

std::wstring MakeWorkingFolderPath()
{
    // Not the user's temporary folder: an unelevated program of the same user could swap a
    // patch there before Windows Installer, running as SYSTEM, applies it. In the Windows
    // folder's Temp others may add folders but not rename or delete this one. The system's
    // Windows folder, not the private one a Remote Desktop Session Host may give a user.
    wchar_t windows[MAX_PATH];
    UINT windowsLength = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH)
        return std::wstring();
    std::wstring path(windows, windowsLength);
    if (path.back() != L'\\')
        path += L'\\';
    path += L"Temp\\";

    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        return std::wstring();
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&guid, &text) != RPC_S_OK || text == nullptr)
        return std::wstring();
    path += reinterpret_cast<const wchar_t*>(text);
    RpcStringFreeW(&text);

    // CreateDirectoryW takes no folder path longer than this.
    if (path.size() > MaxWorkingFolderPath)
        return std::wstring();
    return path;
}

// Full control for SYSTEM and the Administrators group, for the folder and everything in it;
// protected, so nothing is inherited from the Temp folder, which lets every user add entries.
static const wchar_t* const workingFolderSecurity = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

ProtectedFolderResult CreateProtectedFolder(const wchar_t* path, DWORD& error)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(workingFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        error = GetLastError();
        return ProtectedFolderResult::NoAccessRules;
    }
    attributes.lpSecurityDescriptor = descriptor;
    BOOL created = CreateDirectoryW(path, &attributes);
    error = GetLastError();
    LocalFree(descriptor);
    return created ? ProtectedFolderResult::Created : ProtectedFolderResult::NotCreated;
}

bool CreateWorkingFolder(const std::wstring& path)
{
    if (path.empty()) {
        LogFailure(RunStep::WorkingFolder, ERROR_BAD_PATHNAME,
                   L"No working folder could be named under the Windows folder's Temp folder.");
        return false;
    }
    // Fails for a folder that exists already: that one is not this run's.
    DWORD error = 0;
    switch (CreateProtectedFolder(path.c_str(), error)) {
    case ProtectedFolderResult::NoAccessRules:
        LogFailure(RunStep::WorkingFolder, error, L"The working folder's access rules could not be prepared.");
        return false;
    case ProtectedFolderResult::NotCreated:
        LogFailure(RunStep::WorkingFolder, error, L"Failed to create the working folder, error=%u", error);
        return false;
    case ProtectedFolderResult::Created:
        break;
    }
    return true;
}

void DeleteWorkingFolder(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;

    std::wstring folder = path;
    if (folder.back() != L'\\')
        folder += L'\\';

    WIN32_FIND_DATAW entry = {};
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE)))
                DeleteFileW((folder + entry.cFileName).c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path);
}
