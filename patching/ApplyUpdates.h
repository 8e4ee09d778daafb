// The whole update run, on the worker thread: extract the carried patches into folder,
// find their installed target products, apply every product's patches in one Windows
// Installer transaction (x64 products first) and offer a restart when a patch asks for one.
#pragma once

#include <windows.h>

// 0 when every applicable patch was applied and the transaction committed, else 1. window
// is the progress window to tell, or null.
int ApplyUpdates(const wchar_t* folder, HWND window);
