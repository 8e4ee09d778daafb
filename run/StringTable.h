// Access to the string table of the executable's resources (ids in res/resource.h).
#pragma once

#include <windows.h>

#include <string>

// The text of a string-table entry, or an empty string when there is none.
std::wstring LoadResString(UINT id);
