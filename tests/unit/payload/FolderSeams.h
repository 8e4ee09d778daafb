// Test-only stand-ins for kernel32's CreateDirectoryW and GetWindowsDirectoryW, reached
// through the program's own import pointers. Both pass every call on to the real functions;
// CreateDirectoryW also keeps a copy of the security descriptor it was handed, and
// GetWindowsDirectoryW answers with a chosen text while one is set. Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct FolderSeams {
    // What the last CreateDirectoryW call was given: the path, whether it had security
    // attributes, and a self-relative copy of their descriptor (empty when there was none).
    std::wstring createdPath;
    bool hadAttributes = false;
    BOOL inheritHandle = FALSE;
    std::vector<uint8_t> descriptor;
    int createCalls = 0;

    // Set: GetWindowsDirectoryW behaves as if this were the Windows folder. failWindowsFolder
    // makes it fail instead.
    bool replaceWindowsFolder = false;
    std::wstring windowsFolder;
    bool failWindowsFolder = false;
};
extern FolderSeams folderSeams;

// Puts the seams back to passing everything through and forgets what they saw.
void ResetFolderSeams();
