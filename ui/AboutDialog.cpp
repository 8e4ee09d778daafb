// The About box's dialog procedure; runs on the main thread inside DialogBoxParamW.
#include "AboutDialog.h"

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // focus to the first tab stop, the default button OK
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id != IDOK && id != IDCANCEL)
            return FALSE;
        EndDialog(window, id);
        return TRUE;
    }
    default:
        return FALSE;
    }
}
