// Placing a window over the middle of its owner, or of the screen when it has none.
#pragma once

#include <windows.h>

// The top-left corner that centres a window of the size of rcDlg over rcOwner. Either free
// extent may be negative; halves truncate toward zero.
POINT CenteredPosition(const RECT& rcOwner, const RECT& rcDlg);

// Moves the window over the middle of its parent (the desktop window when it has none) and
// to the top of the Z order, keeping its size.
void CenterWindow(HWND window);
