// Folder utilities: the folder test, level-by-level creation, and the working folder of an
// update run (named on the main thread, created once, removed when the window closes).
#pragma once

#include <string>

// True when the path names an existing folder (a file gives false).
bool DirectoryExists(const wchar_t* path);

// Creates every missing level of path; both '\' and '/' separate levels. 0 or -1.
int CreateDirectoryPath(const wchar_t* path);

// The temporary folder followed by a new GUID's text. Nothing is created here.
std::wstring MakeWorkingFolderPath();

// Creates the working folder with one call that fails when the path exists already, so
// success means this run owns the folder (and only then may it be deleted). On failure
// GetLastError tells why (ERROR_INVALID_NAME for an empty path).
bool CreateWorkingFolder(const std::wstring& path);

// Deletes the files in the folder, then the folder; not recursive. Nothing for an empty
// path or a path that names no folder.
void DeleteWorkingFolder(const wchar_t* path);
