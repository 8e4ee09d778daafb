// Centring of the progress window; main thread.
#include "CenterWindow.h"

POINT CenteredPosition(const RECT& rcOwner, const RECT& rcDlg)
{
    int freeWidth = (rcOwner.right - rcOwner.left) - (rcDlg.right - rcDlg.left);
    int freeHeight = (rcOwner.bottom - rcOwner.top) - (rcDlg.bottom - rcDlg.top);
    POINT position;
    position.x = rcOwner.left + freeWidth / 2;
    position.y = rcOwner.top + freeHeight / 2;
    return position;
}

void CenterWindow(HWND window)
{
    HWND owner = GetParent(window);
    if (owner == nullptr)
        owner = GetDesktopWindow();

    RECT rcOwner;
    RECT rcDlg;
    GetWindowRect(owner, &rcOwner);
    GetWindowRect(window, &rcDlg);
    POINT position = CenteredPosition(rcOwner, rcDlg);
    SetWindowPos(window, HWND_TOP, position.x, position.y, 0, 0, SWP_NOSIZE);
}
