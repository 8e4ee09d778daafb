// Where the program's DLLs come from. The updater runs elevated from folders that others can
// write to (Downloads, shares, USB sticks), so no DLL may come from its own folder or the
// current folder: only the Windows system folder is searched.
#pragma once

#include <windows.h>

// Restricts the process's DLL search to the system folder. Must run before anything loads a
// DLL by name. Where SetDefaultDllDirectories is missing (Windows 7 without its update), the
// current folder is taken out of the search and LoadSystemLibrary names full paths instead.
void RestrictDllSearch();

// True once RestrictDllSearch could limit the search to the system folder.
bool DllSearchRestricted();

// Loads a DLL of the system folder by its file name ("comctl32.dll"); null when it cannot.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Ends the process for a function of a system DLL (or, with a null name, the DLL itself) that
// cannot be had, with a line naming it and exit code 127 (ERROR_PROC_NOT_FOUND): a system DLL
// without one of its own functions leaves nothing sensible to do.
[[noreturn]] void ExitForMissingSystemFunction(const wchar_t* dll, const char* name);
