// The progress window's private messages, the only way the update run reaches the window.
// The worker sends them with SendMessageW only, so a pointer passed in wParam stays valid
// while the window handles the message.
#pragma once

#include <windows.h>

// The two outcome messages carry in wParam the code the process ends with once the window has
// closed (RunEnd, UpdateProgress.h).
#define WM_UPDATE_SUCCEEDED (WM_APP + 0)  // the run succeeded
#define WM_UPDATE_FAILED (WM_APP + 1)     // the run failed or never began
// WM_APP + 2 is not assigned.
#define WM_UPDATE_STATUS (WM_APP + 3)  // wParam: const wchar_t*, the new status text
