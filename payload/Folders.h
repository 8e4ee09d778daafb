// Folder utilities: the folder test, level-by-level creation, and the working folder of an
// update run (named on the main thread, created once, removed when the window closes).
#pragma once

#include <string>

// True when the path names an existing folder (a file gives false).
bool DirectoryExists(const wchar_t* path);
