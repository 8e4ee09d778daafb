// The About box: a modal dialog made from IDD_ABOUT, opened from the progress window's
// system menu. Its texts are fixed in the template.
#pragma once

#include <windows.h>

// Gives the focus to OK at start; OK and Enter end the box with IDOK, Escape and the close
// box with IDCANCEL.
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
