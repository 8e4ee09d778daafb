// Log-folder preparation: walks up from the folder to the first level that exists, then
// creates the missing levels downwards.
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

    std::reverse(dirsToCreate.begin(), dirsToCreate.end());
    for (const std::wstring& level : dirsToCreate)
        CreateDirectoryW(level.c_str(), nullptr);
}
