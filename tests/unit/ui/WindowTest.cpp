// The window tests' fixture and pump.
#include "WindowTest.h"

#include <commctrl.h>

#include "AppState.h"
#include "TestFiles.h"
#include "WindowDriver.h"

void WindowTest::SetUp()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ResetAppState();
    appState.productName = L"A";
    appState.productVersion = L"1.2";
    fakeRun = FakeUpdateRun();
    failThreads = false;
}

void WindowTest::TearDown()
{
    // A test that stopped half-way leaves the window up: close it the way a user would and
    // let a worker still running finish before the dialog object goes.
    if (IsWindow(Window())) {
        PostMessageW(Window(), WM_COMMAND, IDCANCEL, 0);
        PumpUntil([this] { return !IsWindow(Window()); }, 30000);
    }
    PumpPending();
    failThreads = false;
    ResetAppState();
}

bool WindowTest::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            if (IsWindow(Window()) && IsDialogMessageW(Window(), &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

void WindowTest::PumpPending()
{
    int idleRounds = 0;
    PumpUntil([&idleRounds] {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
            idleRounds = 0;
        return ++idleRounds > 3;
    });
}

std::wstring WindowTest::Text(int id) const
{
    return ControlText(Window(), id);
}

void WindowTest::PostKey(HWND target, WPARAM key)
{
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

HWND WaitForAboutBox(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start <= timeoutMs) {
        HWND box = FindWindowW(L"#32770", L"About Tessarvane Updater");
        if (box != nullptr && IsWindowVisible(box))
            return box;
        Sleep(10);
    }
    return nullptr;
}
