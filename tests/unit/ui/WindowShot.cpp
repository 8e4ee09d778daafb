// tv-window-shot STATE [SECONDS]: shows the progress window of "Sample Product" 2.0 in one
// state (idle, running, succeeded, failed, about) with a scripted run, for screenshots, and
// ends after SECONDS (10 by default).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "AppState.h"
#include "FakeUpdateRun.h"
#include "MessageLoop.h"
#include "UpdaterDialog.h"
#include "UpdaterMessages.h"
#include "resource.h"

static void CALLBACK EndShot(HWND, UINT, UINT_PTR, DWORD)
{
    ExitProcess(0);
}

int wmain(int argc, wchar_t** argv)
{
    instanceHandle = GetModuleHandleW(nullptr);
    std::wstring state = argc > 1 ? argv[1] : L"idle";
    UINT seconds = argc > 2 ? static_cast<UINT>(_wtoi(argv[2])) : 10;
    appState.productName = L"Sample Product";
    appState.productVersion = L"2.0";

    static Gate never;
    if (state == L"running") {
        fakeRun.script = [](const wchar_t*, HWND window) {
            const wchar_t* text = L"Installing update 'sample-2.0.msp' for '{6F1D2C3B-5A4E-4B7C-9D8E-0123456789AB}'.";
            SendMessageW(window, WM_UPDATE_STATUS, reinterpret_cast<WPARAM>(text), 0);
            never.Wait(INFINITE);
            return 0;
        };
    } else {
        int result = state == L"failed" ? 1 : 0;
        fakeRun.script = [result](const wchar_t*, HWND) { return result; };
    }

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    UpdaterDialog dialog;
    if (!dialog.Create())
        return 1;
    ShowWindow(dialog.GetHwnd(), SW_SHOW);
    SetTimer(nullptr, 0, seconds * 1000, EndShot);
    if (state == L"running" || state == L"succeeded" || state == L"failed")
        PostMessageW(dialog.GetHwnd(), WM_COMMAND, IDOK, 0);
    if (state == L"about")
        PostMessageW(dialog.GetHwnd(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    return RunMessageLoop(dialog);
}
