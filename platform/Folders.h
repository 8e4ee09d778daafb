// Folder utilities: the folder test, level-by-level creation, and folders that only SYSTEM and
// Administrators may change. No state; any thread.
#pragma once

#include <windows.h>

// True when the path names an existing folder (a file gives false).
bool DirectoryExists(const wchar_t* path);

// Creates every missing level of path below the longest leading part that exists (a file
// there counts as existing); both '\' and '/' separate levels. 0 or -1, with the reason in the
// thread's last error; a path of MAX_PATH characters or more is refused.
int CreateDirectoryPath(const wchar_t* path);

// The same, with backslashes alone separating levels, and each level that it creates protected
// as CreateProtectedFolder protects one.
int CreateProtectedDirectoryPath(const wchar_t* path);

enum class ProtectedFolderResult { Created, NotCreated, NoAccessRules };

// Creates one folder with access for SYSTEM and Administrators only, and for the account whose
// SID accountSid spells when one is given, and nothing inherited; error receives GetLastError's
// value when it was not created.
ProtectedFolderResult CreateProtectedFolder(const wchar_t* path, DWORD& error, const wchar_t* accountSid = nullptr);
