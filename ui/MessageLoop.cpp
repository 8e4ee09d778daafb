// The message loop of the window modes; main thread.
#include "MessageLoop.h"

int RunMessageLoop(const UpdaterDialog& dialog)
{
    MSG msg;
    for (;;) {
        BOOL result = GetMessageW(&msg, nullptr, 0, 0);
        if (result == 0)
            return static_cast<int>(msg.wParam);
        if (result == -1)
            return 1;
        HWND window = dialog.GetHwnd();
        if (IsWindow(window) && IsDialogMessageW(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
