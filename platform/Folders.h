// Folder utilities: the folder test, level-by-level creation, and the working folder of an
// update run (named on the main thread, created once, removed when the window closes).
#pragma once

#include <windows.h>

#include <string>

// True when the path names an existing folder (a file gives false).
bool DirectoryExists(const wchar_t* path);

// Creates every missing level of path; both '\' and '/' separate levels. 0 or -1.
int CreateDirectoryPath(const wchar_t* path);

// The longest folder path that CreateDirectoryW accepts.
const size_t MaxWorkingFolderPath = MAX_PATH - 12 - 1;

// The Windows folder's Temp folder followed by a new GUID's text, or the empty string when the
// Windows folder is unknown, no GUID can be made, or the path would be too long: never a
// relative path, never another folder. Nothing is created here.
std::wstring MakeWorkingFolderPath();

enum class ProtectedFolderResult { Created, NotCreated, NoAccessRules };

// Creates one folder with access for SYSTEM and Administrators only and nothing inherited;
// error receives GetLastError's value when it was not created.
ProtectedFolderResult CreateProtectedFolder(const wchar_t* path, DWORD& error);

// Creates the working folder with one call, with access for SYSTEM and Administrators only and
// nothing inherited. Fails when the path is empty or exists already, so success means this
// run owns the folder (and only then may it be deleted). A failure is logged with its cause.
bool CreateWorkingFolder(const std::wstring& path);

// Deletes the files in the folder, then the folder; not recursive. Nothing for an empty
// path or a path that names no folder.
void DeleteWorkingFolder(const wchar_t* path);
