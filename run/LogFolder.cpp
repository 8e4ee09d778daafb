// Log-folder preparation: walks up from the folder to the first level that exists, then
// creates the missing levels downwards, each with SYSTEM and Administrators' access only.
#include "LogFolder.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppState.h"
#include "Folders.h"

void PrepareLogFolder()
{
    std::wstring& folder = appState.logFolder;
    if (folder.empty())
        return;
    if (folder.back() != L'\\')
        folder += L'\\';

    std::wstring dir = folder.substr(0, folder.size() - 1);
    std::vector<std::wstring> dirsToCreate;
    while (!DirectoryExists(dir.c_str())) {
        dirsToCreate.push_back(dir);
        size_t slash = dir.rfind(L'\\');
        if (slash == std::wstring::npos) {
            dirsToCreate.clear();
            break;
        }
        dir.resize(slash);
    }

    // Levels made here get the working folder's protected access: in a folder that everybody
    // may add to (the Windows folder's Temp, say) an unelevated user could otherwise change
    // the log folder, or what lies in it, behind the updater's back.
    std::reverse(dirsToCreate.begin(), dirsToCreate.end());
    for (const std::wstring& level : dirsToCreate) {
        DWORD error = 0;
        CreateProtectedFolder(level.c_str(), error);
    }
}
