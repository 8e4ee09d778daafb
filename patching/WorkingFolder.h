// The working folder of an update run: the carried patches and the verbose logs live there
// from the run's start until the run is finished (UpdateRun.h). Named and created by the run's
// thread, removed at the end of the process.
#pragma once

#include <windows.h>

#include <string>

#include "RunRecord.h"

// The longest folder path that CreateDirectoryW accepts.
const size_t MaxWorkingFolderPath = MAX_PATH - 12 - 1;

// The Windows folder's Temp folder followed by a new GUID's text, or the empty string when the
// Windows folder is unknown, no GUID can be made, or the path would be too long: never a
// relative path, never another folder. Nothing is created here.
std::wstring MakeWorkingFolderPath();

// Creates the working folder with one call, with access for SYSTEM and Administrators only and
// nothing inherited. Fails when the path is empty or exists already, so success means this
// run owns the folder (and only then may it be deleted). A failure is logged and recorded with
// its cause.
bool CreateWorkingFolder(const std::wstring& path, RunRecord& record);

// Deletes the files in the folder, then the folder; not recursive. Nothing for an empty
// path or a path that names no folder.
void DeleteWorkingFolder(const wchar_t* path);
