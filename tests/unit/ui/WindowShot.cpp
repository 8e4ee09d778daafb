// tv-window-shot STATE [SECONDS]: shows the progress window of "Sample Product" 2.0 in one
// state (idle, running, succeeded, failed, about) with a scripted run, for screenshots. Ends
// when the window is closed (in the running state a close ends the run, which then closes the
// window) or after SECONDS (10 by default; 0: only when closed).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "AppState.h"
#include "FakeUpdateRun.h"
#include "MessageLoop.h"
#include "UpdaterDialog.h"
#include "resource.h"

static Gate runMayEnd;
static WNDPROC dialogProc;

static void CALLBACK EndShot(HWND, UINT, UINT_PTR, DWORD)
{
    ExitProcess(0);
}

// Cancel during the run only asks the window to close once the run reports; this lets the
// scripted run report then.
static LRESULT CALLBACK EndRunOnCancel(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcW(dialogProc, window, message, wParam, lParam);
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        runMayEnd.Open();
    return result;
}

int wmain(int argc, wchar_t** argv)
{
    instanceHandle = GetModuleHandleW(nullptr);
    std::wstring state = argc > 1 ? argv[1] : L"idle";
    UINT seconds = argc > 2 ? static_cast<UINT>(_wtoi(argv[2])) : 10;
    appState.productName = L"Sample Product";
    appState.productVersion = L"2.0";

    if (state == L"running") {
        fakeRun.script = [](const UpdateProgress& progress) {
            progress.ShowStatus(L"Installing update 'sample-2.0.msp' for '{6F1D2C3B-5A4E-4B7C-9D8E-0123456789AB}'.");
            runMayEnd.Wait(INFINITE);
            return 0;
        };
    } else {
        int result = state == L"failed" ? 1 : 0;
        fakeRun.script = [result](const UpdateProgress&) { return result; };
    }

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    UpdaterDialog dialog(FakeRunStarter());
    if (!dialog.Create())
        return 1;
    if (state == L"running") {
        dialogProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(dialog.GetHwnd(), GWLP_WNDPROC));
        SetWindowLongPtrW(dialog.GetHwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EndRunOnCancel));
    }
    ShowWindow(dialog.GetHwnd(), SW_SHOW);
    if (seconds != 0)
        SetTimer(nullptr, 0, seconds * 1000, EndShot);
    if (state == L"running" || state == L"succeeded" || state == L"failed")
        PostMessageW(dialog.GetHwnd(), WM_COMMAND, IDOK, 0);
    if (state == L"about")
        PostMessageW(dialog.GetHwnd(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    return RunMessageLoop(dialog);
}
