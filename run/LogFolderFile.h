// Files that the updater writes into the -l folder (its log, the verbose Windows Installer
// logs, any other result), opened so that no link can send the write elsewhere. The folder is
// often one that others can write to, and the updater runs elevated, often as SYSTEM.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueHandle.h"

// Opens the file name in appState.logFolder (which ends with a backslash) for writing,
// creating it or emptying what it held, and only when it is what it seems:
// - a link under the name itself is not followed (a reparse point, or a file with more than one
//   name, is refused without being emptied);
// - the path that the open handle really names must be the path asked for, so a junction,
//   mount point or symbolic link on the folder or on any folder above it is refused.
// A refused file that this call created is deleted again through its handle. Gives no file
// when refused or when the file cannot be opened. Any thread.
FileHandle OpenLogFolderFile(const wchar_t* name);

// True for a file that may be written as a log: not a reparse point or folder, one name only.
bool IsPlainLogFile(const BY_HANDLE_FILE_INFORMATION& information);

// True when finalPath, as GetFinalPathNameByHandleW gives it, names the place that asked
// names; asked is a full path whose short names have been expanded. Equal when they differ only
// in case and in the "\\?\" and "\\?\UNC\" prefixes.
bool FinalPathMatches(const std::wstring& asked, const std::wstring& finalPath);
