// The check of a carried file's name before it is joined to the output folder: only a plain
// name that Windows keeps as written may be created, so no entry can reach another folder,
// an alternate data stream or a device. Pure function; any thread.
#pragma once

#include "UpdateTable.h"

// True when fileName ends with a NUL within its 260 units and the name before it is a bare
// Windows file name: not empty, not "." or "..", no control character and none of \ / : * ? " < > |,
// not ending in a dot or a space, and not a reserved device name such as CON or COM1.
bool IsValidUpdateFileName(const wchar_t (&fileName)[payloadlayout::kFileNameUnits]);
