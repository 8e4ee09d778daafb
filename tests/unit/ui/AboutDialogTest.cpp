// The About box on its own: its texts, its focus, and every way of closing it with the
// result each gives. A second thread plays the user while this one runs the modal box.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "AboutDialog.h"
#include "AppState.h"
#include "WindowDriver.h"
#include "WindowTest.h"
#include "resource.h"

namespace {

struct Seen {
    std::wstring name, version, caption;
    LONG okStyle = 0;
    HWND focus = nullptr;
    HWND ok = nullptr;
};

// Opens the box modally and, from another thread, closes it with close(box).
template <typename Close>
INT_PTR RunAboutBox(Seen& seen, Close close)
{
    DWORD boxThread = GetCurrentThreadId();
    std::thread user([&] {
        HWND box = WaitForAboutBox();
        if (box == nullptr)
            return;
        seen.caption = WindowText(box);
        seen.name = ControlText(box, IDC_ABOUT_NAME);
        seen.version = ControlText(box, IDC_ABOUT_VERSION);
        seen.ok = GetDlgItem(box, IDOK);
        seen.okStyle = GetWindowLongW(seen.ok, GWL_STYLE);
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        if (GetGUIThreadInfo(boxThread, &info))
            seen.focus = info.hwndFocus;
        close(box);
    });
    INT_PTR result = DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(IDD_ABOUT), nullptr, AboutDialogProc, 0);
    user.join();
    return result;
}

void PostKey(HWND target, WPARAM key)
{
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

}  // namespace

TEST(AboutBox, ShowsItsFixedTextsWithTheFocusOnTheDefaultButton)
{
    Seen seen;
    INT_PTR result = RunAboutBox(seen, [](HWND box) { PressButton(box, IDOK); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.caption, L"About Tessarvane Updater");
    EXPECT_EQ(seen.name, L"Tessarvane Updater");
    EXPECT_EQ(seen.version, L"Version 1.0");
    EXPECT_EQ(seen.okStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(seen.focus, seen.ok);
}

TEST(AboutBox, EnterGivesOkWhileEscapeTheCloseBoxAndCloseGiveCancel)
{
    struct Case {
        const char* how;
        void (*close)(HWND);
        INT_PTR result;
    };
    const Case cases[] = {
        {"Enter", [](HWND box) { PostKey(GetDlgItem(box, IDOK), VK_RETURN); }, IDOK},
        {"Escape", [](HWND box) { PostKey(GetDlgItem(box, IDOK), VK_ESCAPE); }, IDCANCEL},
        {"close box", [](HWND box) { PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
        {"WM_CLOSE", [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Seen seen;
        EXPECT_EQ(RunAboutBox(seen, c.close), c.result);
    }
}

TEST(AboutBox, OtherCommandsLeaveItOpen)
{
    Seen seen;
    bool stillOpen = false;
    INT_PTR result = RunAboutBox(seen, [&stillOpen](HWND box) {
        SendMessageW(box, WM_COMMAND, IDM_ABOUT, 0);
        stillOpen = IsWindow(box) && IsWindowVisible(box);
        PressButton(box, IDOK);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, IDOK);
}
