// Folder utilities: the folder test, level-by-level creation of an output folder, and the
// working folder of an update run. The working folder is named on the main thread, created
// by CreateWorkingFolder, and removed by DeleteWorkingFolder when the window goes away; the
// caller deletes it only when CreateWorkingFolder succeeded, so a folder that existed before
// the run is never emptied. No function here keeps state.
#include "Folders.h"

#include <windows.h>
#include <io.h>
#include <objbase.h>
#include <rpc.h>
#include <strsafe.h>

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
    size_t length = 0;
    if (FAILED(StringCchLengthW(path, MAX_PATH, &length)))
        return -1;
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
    if (existing == 0)
        return -1;

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
    std::wstring path;

    // A result above MAX_PATH is the length the folder would need: the buffer holds nothing.
    wchar_t temp[MAX_PATH + 1];
    DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    if (tempLength > 0 && tempLength <= MAX_PATH)
        path += temp;

    // Without a GUID the path stays the temporary folder itself, which exists already, so
    // CreateWorkingFolder refuses it and nothing is ever deleted there.
    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        return path;
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&guid, &text) == RPC_S_OK && text != nullptr) {
        path += reinterpret_cast<const wchar_t*>(text);
        RpcStringFreeW(&text);
    }
    return path;
}

bool CreateWorkingFolder(const std::wstring& path)
{
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
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
