// Owner of one Windows Installer handle, closed with MsiCloseHandle when the owner goes away:
// the SDK's PMSIHANDLE as one of the program's handle owners. 0 means no handle.
#pragma once

#include <windows.h>

#include <msi.h>

#include "UniqueHandle.h"

struct MsiHandleTraits {
    using Handle = MSIHANDLE;
    static Handle None() { return 0; }
    static bool Close(Handle handle) { return MsiCloseHandle(handle) == ERROR_SUCCESS; }
};
using MsiHandle = UniqueHandle<MsiHandleTraits>;
