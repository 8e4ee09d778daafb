// Test-only stand-ins for kernel32's CreateDirectoryW, GetSystemWindowsDirectoryW and
// GetWindowsDirectoryW, reached through the program's own import pointers. Each passes its
// calls on to the real function; CreateDirectoryW also keeps a copy of the security descriptor
// it was handed, and the two Windows-folder calls answer with chosen texts while they are set
// (as a Remote Desktop Session Host answers a program that is not terminal-server aware: the
// system's folder from one, a private per-user folder from the other). Main thread only.
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

    // Set: GetSystemWindowsDirectoryW behaves as if this were the Windows folder.
    // failWindowsFolder makes it fail instead.
    bool replaceWindowsFolder = false;
    std::wstring windowsFolder;
    bool failWindowsFolder = false;
    // Not empty: what GetWindowsDirectoryW answers.
    std::wstring userWindowsFolder;
};
extern FolderSeams folderSeams;

// Puts the seams back to passing everything through and forgets what they saw.
void ResetFolderSeams();
