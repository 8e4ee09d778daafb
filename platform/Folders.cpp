// Folder utilities: the folder test, level-by-level creation of an output folder, and protected
// folders. No function here keeps state.
#include "Folders.h"

#include <windows.h>
#include <io.h>
#include <sddl.h>
#include <strsafe.h>

#include <cwchar>
#include <string>

bool DirectoryExists(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Full control for SYSTEM and the Administrators group, for the folder and everything in it;
// protected, so nothing is inherited from the Temp folder, which lets every user add entries.
static const wchar_t* const workingFolderSecurity = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

ProtectedFolderResult CreateProtectedFolder(const wchar_t* path, DWORD& error, const wchar_t* accountSid)
{
    std::wstring rules = workingFolderSecurity;
    if (accountSid != nullptr && accountSid[0] != L'\0')
        rules = rules + L"(A;OICI;FA;;;" + accountSid + L")";
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        error = GetLastError();
        return ProtectedFolderResult::NoAccessRules;
    }
    attributes.lpSecurityDescriptor = descriptor;
    BOOL created = CreateDirectoryW(path, &attributes);
    error = GetLastError();
    LocalFree(descriptor);
    return created ? ProtectedFolderResult::Created : ProtectedFolderResult::NotCreated;
}

// _waccess counts a file as existing as well as a folder.
static bool PathExists(const wchar_t* path)
{
    return _waccess(path, 0) == 0;
}

// Creates the levels of path that are missing below the longest leading part that exists. A
// level ends at any of separators; each is made protected or plain.
static int CreateLevels(const wchar_t* path, const wchar_t* separators, bool protect)
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
        if (wcschr(separators, path[i]) == nullptr)
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
        if (i < length && wcschr(separators, path[i]) == nullptr)
            continue;
        StringCchCopyW(level, MAX_PATH, path);
        level[i] = L'\0';
        DWORD error = 0;
        if (protect) {
            if (CreateProtectedFolder(level, error) == ProtectedFolderResult::Created)
                continue;
            SetLastError(error);
        } else if (CreateDirectoryW(level, nullptr)) {
            continue;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return 0;
}

int CreateDirectoryPath(const wchar_t* path)
{
    return CreateLevels(path, L"\\/", false);
}

int CreateProtectedDirectoryPath(const wchar_t* path)
{
    return CreateLevels(path, L"\\", true);
}
