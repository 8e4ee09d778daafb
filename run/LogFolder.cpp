// Log-folder preparation: the missing levels below the first one that exists are created,
// each with SYSTEM and Administrators' access only.
#include "LogFolder.h"

#include <windows.h>

#include <string>

#include "AppState.h"
#include "Folders.h"

void PrepareLogFolder()
{
    std::wstring& folder = appState.logFolder;
    if (folder.empty())
        return;
    if (folder.back() != L'\\')
        folder += L'\\';

    // Levels made here get the working folder's protected access: in a folder that everybody
    // may add to (the Windows folder's Temp, say) an unelevated user could otherwise change
    // the log folder, or what lies in it, behind the updater's back. The result is not
    // examined: a log that cannot be opened stays off.
    CreateProtectedDirectoryPath(folder.substr(0, folder.size() - 1).c_str());
}
