// The working folder of an update run: named and created when the run starts, and removed by
// DeleteWorkingFolder when the run is finished, only where CreateWorkingFolder succeeded, so a
// folder that existed before the run is never emptied. No function here keeps state.
#include "WorkingFolder.h"

#include <objbase.h>
#include <rpc.h>

#include "Folders.h"
#include "UniqueHandle.h"

namespace {

// parent followed by a new GUID's text; empty when parent is, or no GUID can be made, or the
// path would be too long.
std::wstring FolderPathUnder(std::wstring parent)
{
    if (parent.empty())
        return std::wstring();
    if (parent.back() != L'\\')
        parent += L'\\';
    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        return std::wstring();
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&guid, &text) != RPC_S_OK || text == nullptr)
        return std::wstring();
    std::wstring path = parent + reinterpret_cast<const wchar_t*>(text);
    RpcStringFreeW(&text);

    // CreateDirectoryW takes no folder path longer than this.
    if (path.size() > MaxWorkingFolderPath)
        return std::wstring();
    return path;
}

}  // namespace

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
    return FolderPathUnder(path + L"Temp");
}

std::wstring MakeAccountWorkingFolderPath()
{
    // A check without administrator rights cannot write into a folder for SYSTEM and
    // Administrators only. It changes nothing and hands nothing to Windows Installer's service
    // to install, so a folder that only programs of its own account can reach will do.
    wchar_t temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(ARRAYSIZE(temporary), temporary);
    if (length == 0 || length >= ARRAYSIZE(temporary))
        return std::wstring();
    return FolderPathUnder(std::wstring(temporary, length));
}

bool CreateWorkingFolder(const std::wstring& path, RunRecord& record, const wchar_t* accountSid)
{
    if (path.empty()) {
        if (accountSid != nullptr)
            record.LogFailure(RunStep::WorkingFolder, ERROR_BAD_PATHNAME,
                              L"No working folder could be named under the account's temporary folder.");
        else
            record.LogFailure(RunStep::WorkingFolder, ERROR_BAD_PATHNAME,
                              L"No working folder could be named under the Windows folder's Temp folder.");
        return false;
    }
    // Fails for a folder that exists already: that one is not this run's.
    DWORD error = 0;
    switch (CreateProtectedFolder(path.c_str(), error, accountSid)) {
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
