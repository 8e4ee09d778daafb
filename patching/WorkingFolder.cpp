// The working folder of an update run: named and created when the run starts, and removed by
// DeleteWorkingFolder when the run is finished, only where CreateWorkingFolder succeeded, so a
// folder that existed before the run is never emptied. No function here keeps state.
#include "WorkingFolder.h"

#include <objbase.h>
#include <rpc.h>

#include "Folders.h"
#include "UniqueHandle.h"

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

bool CreateWorkingFolder(const std::wstring& path, RunRecord& record)
{
    if (path.empty()) {
        record.LogFailure(RunStep::WorkingFolder, ERROR_BAD_PATHNAME,
                          L"No working folder could be named under the Windows folder's Temp folder.");
        return false;
    }
    // Fails for a folder that exists already: that one is not this run's.
    DWORD error = 0;
    switch (CreateProtectedFolder(path.c_str(), error)) {
    case ProtectedFolderResult::NoAccessRules:
        record.LogFailure(RunStep::WorkingFolder, error, L"The working folder's access rules could not be prepared.");
        return false;
    case ProtectedFolderResult::NotCreated:
        record.LogFailure(RunStep::WorkingFolder, error, L"Failed to create the working folder, error=%u", error);
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
    FindHandle search(FindFirstFileW((folder + L"*").c_str(), &entry));
    if (search) {
        do {
            if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE)))
                DeleteFileW((folder + entry.cFileName).c_str());
        } while (FindNextFileW(search.get(), &entry));
        search.reset();
    }
    RemoveDirectoryW(path);
}
