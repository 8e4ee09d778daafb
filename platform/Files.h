// Whole reads and writes of open files, and deletion through an open handle. No state; any
// thread.
#pragma once

#include <windows.h>

// A read counts only when it delivers every byte asked for; a write, when it writes them all.
bool ReadExactly(HANDLE file, void* buffer, DWORD size);
bool WriteExactly(HANDLE file, const void* buffer, DWORD size);

// Marks the file open in handle (with DELETE access) for deletion when its last handle closes,
// wherever it is by then: no path is looked up again, so nothing else can be deleted in its
// place.
bool MarkForDeletion(HANDLE file);
