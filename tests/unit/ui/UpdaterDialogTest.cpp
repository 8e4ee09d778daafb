// The progress window in this process, with a scripted update run: every state is reached
// through the gates that the worker's script waits on, so what a test sees does not depend
// on timing.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "AboutDialog.h"
#include "AppState.h"
#include "Folders.h"
#include "Log.h"
#include "MessageLoop.h"
#include "TestFiles.h"
#include "UpdaterMessages.h"
#include "WindowDriver.h"
#include "WindowTest.h"
#include "resource.h"

namespace {

LONG Style(HWND window)
{
    return GetWindowLongW(window, GWL_STYLE);
}

std::wstring MenuItemText(HMENU menu, int position)
{
    wchar_t text[64] = L"";
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

}  // namespace

TEST_F(WindowTest, IdleShowsTheProductAndWaitsForOk)
{
    ASSERT_TRUE(dialog.Create());
    HWND window = Window();
    EXPECT_FALSE(IsWindowVisible(window)) << "shown by the start-up code, not by Create";
    EXPECT_EQ(WindowText(window), L"Tessarvane Updater");
    EXPECT_EQ(Text(IDC_HEADER_TEXT), L"This utility will update your A to version 1.2.");
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Click 'OK' to continue");
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS)));
    EXPECT_TRUE(IsWindowEnabled(Item(IDOK)));
    EXPECT_EQ(Style(Item(IDOK)) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(Text(IDCANCEL), L"Cancel");
    EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);

    // Centred on the whole screen, not the work area.
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2);

    ShowWindow(window, SW_SHOW);
    PumpPending();
    EXPECT_EQ(fakeRun.calls, 0) << "nothing runs before OK";
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Click 'OK' to continue");
}

TEST_F(WindowTest, HeaderTextIsCutToTheBufferWithoutOverrun)
{
    appState.productName = std::wstring(600, L'n');
    ASSERT_TRUE(dialog.Create());
    std::wstring header = Text(IDC_HEADER_TEXT);
    EXPECT_EQ(header.size(), 511u);
    EXPECT_EQ(header.substr(0, 30), L"This utility will update your ");
}

TEST_F(WindowTest, SystemMenuEndsWithAboutWithoutASeparator)
{
    ASSERT_TRUE(dialog.Create());
    HMENU menu = GetSystemMenu(Window(), FALSE);
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(MenuItemText(menu, count - 1), L"&About");
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUT));
    MENUITEMINFOW before = {};
    before.cbSize = sizeof(before);
    before.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, count - 2, TRUE, &before));
    EXPECT_FALSE(before.fType & MFT_SEPARATOR);
}

TEST_F(WindowTest, CancelBeforeOkClosesAtOnceWithoutARun)
{
    ASSERT_TRUE(dialog.Create());
    Press(IDCANCEL);
    EXPECT_FALSE(IsWindow(Window()));
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_EQ(quitCode, 0);
    EXPECT_EQ(fakeRun.calls, 0);
}

TEST_F(WindowTest, ARunGoesFromOkThroughStatusTextsToClose)
{
    Gate entered, firstGo, firstSent, secondGo, secondSent, finish;
    fakeRun.script = [&](const UpdateProgress& progress) {
        entered.Open();
        if (!firstGo.Wait())
            return 1;
        ShowStatus(progress, L"Installing update 'one.msp' for 'A'.");
        firstSent.Open();
        if (!secondGo.Wait())
            return 1;
        ShowStatus(progress, L"Installing update 'two.msp' for 'A'.");
        secondSent.Open();
        return finish.Wait() ? 0 : 1;
    };
    ASSERT_TRUE(dialog.Create());
    ShowWindow(Window(), SW_SHOW);
    PressButton(Window(), IDOK);
    ASSERT_TRUE(PumpUntil([&] { return entered.IsOpen(); }));

    EXPECT_FALSE(IsWindowEnabled(Item(IDOK)));
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Applying updates...");
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PROGRESS)));
    EXPECT_TRUE(IsWindowEnabled(Item(IDCANCEL)));
    EXPECT_EQ(fakeRun.watcher, &dialog) << "the window watches the run";

    firstGo.Open();
    ASSERT_TRUE(PumpUntil([&] { return firstSent.IsOpen(); }));
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Installing update 'one.msp' for 'A'.");
    EXPECT_EQ(SendMessageW(Window(), WM_APP + 2, reinterpret_cast<WPARAM>(L"ignored"), 0), 0);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Installing update 'one.msp' for 'A'.");

    secondGo.Open();
    ASSERT_TRUE(PumpUntil([&] { return secondSent.IsOpen(); }));
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Installing update 'two.msp' for 'A'.");

    finish.Open();
    ASSERT_TRUE(PumpUntil([&] { return Text(IDCANCEL) == L"Close"; }));
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Finished updating.");
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDOK)));
    EXPECT_TRUE(IsWindow(Window())) << "an interactive window waits for Close";

    // Enter still reaches the OK command with the button disabled; it must not run again.
    PostKey(Window(), VK_RETURN);
    PumpPending();
    EXPECT_EQ(fakeRun.calls, 1);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Finished updating.");

    PressButton(Window(), IDCANCEL);
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_EQ(quitCode, 0);
}

TEST_F(WindowTest, EnterStartsTheRunAndAFailedRunStillQuitsWithZero)
{
    fakeRun.script = [](const UpdateProgress&) { return 1; };
    ASSERT_TRUE(dialog.Create());
    ShowWindow(Window(), SW_SHOW);
    PostKey(Window(), VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return Text(IDCANCEL) == L"Close"; }));
    EXPECT_EQ(fakeRun.calls, 1);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Update failed.");
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDOK)));

    PostKey(Window(), VK_ESCAPE);
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_EQ(quitCode, 0) << "an interactive run reports its outcome in the window only";
}

TEST_F(WindowTest, InteractiveRunsShowEachResultAsFinishedOrFailedAndQuitWithZero)
{
    struct Case {
        int result;
        const wchar_t* status;
    };
    for (Case c : {Case{3010, L"Finished updating."}, Case{1603, L"Update failed."}, Case{1618, L"Update failed."}}) {
        SCOPED_TRACE(c.result);
        fakeRun = FakeUpdateRun();
        fakeRun.script = [&](const UpdateProgress&) { return c.result; };
        UpdaterDialog interactive(FakeRunStarter());
        ASSERT_TRUE(interactive.Create());
        SendMessageW(interactive.GetHwnd(), WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(PumpUntil([&] { return ControlText(interactive.GetHwnd(), IDCANCEL) == L"Close"; }));
        EXPECT_EQ(ControlText(interactive.GetHwnd(), IDC_STATUS_TEXT), c.status);
        SendMessageW(interactive.GetHwnd(), WM_COMMAND, IDCANCEL, 0);
        quitCode = -1;
        ASSERT_TRUE(PumpUntilQuit());
        EXPECT_EQ(quitCode, 0);
    }
}

// A removal (-u) says so from its header to its outcome; the rest of the window is the same.
TEST_F(WindowTest, ARemovalSaysSoInItsHeaderItsRunningTextAndItsOutcome)
{
    appState.removal = true;
    struct Case {
        int result;
        const wchar_t* status;
    };
    for (Case c : {Case{0, L"Finished removing updates."}, Case{1646, L"Removal failed."}}) {
        SCOPED_TRACE(c.result);
        fakeRun = FakeUpdateRun();
        std::wstring running;
        UpdaterDialog removal(FakeRunStarter());
        ASSERT_TRUE(removal.Create());
        HWND window = removal.GetHwnd();
        fakeRun.script = [&](const UpdateProgress&) {
            running = ControlText(window, IDC_STATUS_TEXT);
            return c.result;
        };
        EXPECT_EQ(ControlText(window, IDC_HEADER_TEXT), L"This utility will remove the updates of A version 1.2.");
        SendMessageW(window, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(PumpUntil([&] { return ControlText(window, IDCANCEL) == L"Close"; }));
        EXPECT_EQ(running, L"Removing updates...");
        EXPECT_EQ(ControlText(window, IDC_STATUS_TEXT), c.status);
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
        quitCode = -1;
        ASSERT_TRUE(PumpUntilQuit());
    }
    appState.removal = false;
}

// The restart question comes from the run once its transaction has committed; the window asks
// it in a box of its own and hands the answer back (what the run keeps before a restart is the
// run's: UpdateRunTest.cpp).
TEST_F(WindowTest, TheRestartQuestionIsTheWindowsAndItsAnswerGoesBackToTheRun)
{
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        fakeRun = FakeUpdateRun();
        bool answer = !yes;
        fakeRun.script = [&](const UpdateProgress& progress) {
            answer = progress.ConfirmRestart();
            return ERROR_SUCCESS_REBOOT_REQUIRED;
        };
        UpdaterDialog interactive(FakeRunStarter());
        ASSERT_TRUE(interactive.Create());
        SendMessageW(interactive.GetHwnd(), WM_COMMAND, IDOK, 0);
        HWND box = nullptr;
        ASSERT_TRUE(PumpUntil([&] {
            box = FindWindowW(L"#32770", L"Tessarvane Updater - Reboot Required");
            return box != nullptr && IsWindowVisible(box);
        }));
        EXPECT_EQ(GetWindow(box, GW_OWNER), interactive.GetHwnd());
        EXPECT_EQ(MessageBoxText(box),
                  L"Product updates successfully applied, but a reboot is required. Would you like to reboot now?");
        EXPECT_EQ(ButtonIds(box), (std::vector<int>{IDYES, IDNO}));
        PressButton(box, yes ? IDYES : IDNO);
        ASSERT_TRUE(PumpUntil([&] { return ControlText(interactive.GetHwnd(), IDCANCEL) == L"Close"; }));
        EXPECT_EQ(answer, yes);
        EXPECT_EQ(ControlText(interactive.GetHwnd(), IDC_STATUS_TEXT), L"Finished updating.");
        SendMessageW(interactive.GetHwnd(), WM_COMMAND, IDCANCEL, 0);
        quitCode = -1;
        ASSERT_TRUE(PumpUntilQuit());
        EXPECT_EQ(quitCode, 0);
    }
}

TEST_F(WindowTest, AnUnattendedRunIsNeverAskedToRestart)
{
    appState.runMode = RunMode::Unattended;
    bool answer = true;
    fakeRun.script = [&](const UpdateProgress& progress) {
        answer = progress.ConfirmRestart();
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    };
    UpdaterDialog unattended(FakeRunStarter());
    ASSERT_TRUE(unattended.Create());
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_FALSE(answer);
    EXPECT_EQ(FindWindowW(L"#32770", L"Tessarvane Updater - Reboot Required"), nullptr);
    EXPECT_EQ(quitCode, 3010) << "its exit code tells of the restart";
}

TEST_F(WindowTest, ClosingDuringARunWaitsForTheOutcome)
{
    Gate entered, finish;
    bool windowThereAtTheEnd = false;
    fakeRun.script = [&](const UpdateProgress&) {
        entered.Open();
        bool released = finish.Wait();
        windowThereAtTheEnd = IsWindow(Window());
        return released ? 0 : 1;
    };
    ASSERT_TRUE(dialog.Create());
    ShowWindow(Window(), SW_SHOW);
    Press(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return entered.IsOpen(); }));

    // Cancel, Escape, the close box (or Alt+F4) and the system menu's Close.
    Press(IDCANCEL);
    PostKey(Window(), VK_ESCAPE);
    PostMessageW(Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(Window(), WM_CLOSE, 0, 0);
    PumpPending();
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_EQ(quitCode, -1);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Applying updates...");

    finish.Open();
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_FALSE(IsWindow(Window())) << "closes itself once the worker reported";
    EXPECT_EQ(quitCode, 0);
    EXPECT_TRUE(windowThereAtTheEnd) << "nothing the worker uses goes away under it";
}

TEST_F(WindowTest, UnattendedRunsBeforeCreateReturnsAndClosesItselfWithTheRunsResult)
{
    struct Case {
        int result;
        int exitCode;
    };
    for (Case c : {Case{0, 0}, Case{3010, 3010}, Case{1603, 1603}, Case{1618, 1618}, Case{1, 1}}) {
        SCOPED_TRACE(c.result);
        appState.runMode = RunMode::Unattended;
        fakeRun = FakeUpdateRun();
        Gate entered, finish;
        fakeRun.script = [&](const UpdateProgress&) {
            entered.Open();
            return finish.Wait() ? c.result : 1;
        };
        UpdaterDialog unattended(FakeRunStarter());
        ASSERT_TRUE(unattended.Create());
        EXPECT_TRUE(entered.Wait()) << "the run starts inside Create";
        EXPECT_FALSE(IsWindowVisible(unattended.GetHwnd()));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(unattended.GetHwnd(), IDOK)));
        finish.Open();
        EXPECT_EQ(RunMessageLoop(unattended), c.exitCode);
        EXPECT_FALSE(IsWindow(unattended.GetHwnd()));
        EXPECT_EQ(fakeRun.calls, 1);
    }
}

// The window reports the failure to the run, which records and logs it (UpdateRunTest.cpp).
TEST_F(WindowTest, AWorkerThatCannotStartFailsTheRun)
{
    failThreads = true;

    ASSERT_TRUE(dialog.Create());
    Press(IDOK);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Update failed.");
    EXPECT_EQ(Text(IDCANCEL), L"Close");
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDOK)));
    Press(IDCANCEL);
    ASSERT_TRUE(PumpUntilQuit());
    EXPECT_EQ(quitCode, 0);

    // Unattended: the window is gone before Create returns, and the outcome is failure.
    appState.runMode = RunMode::Unattended;
    UpdaterDialog unattended(FakeRunStarter());
    quitCode = -1;
    bool created = unattended.Create();
    if (created)
        quitCode = RunMessageLoop(unattended);
    else
        PumpUntilQuit();
    EXPECT_EQ(quitCode, 1);
    EXPECT_FALSE(IsWindow(unattended.GetHwnd()));
    failThreads = false;
    EXPECT_EQ(fakeRun.notStartedCalls, 2);
    EXPECT_EQ(fakeRun.calls, 0);
}

TEST_F(WindowTest, TheAboutBoxOpensDuringARunWhileStatusTextsArrive)
{
    HWND owner = nullptr;
    std::wstring statusBehindTheBox, aboutName, aboutVersion;
    bool boxGone = false;
    fakeRun.script = [&](const UpdateProgress& progress) {
        HWND box = WaitForAboutBox();
        if (box == nullptr)
            return 1;
        owner = GetWindow(box, GW_OWNER);
        aboutName = ControlText(box, IDC_ABOUT_NAME);
        aboutVersion = ControlText(box, IDC_ABOUT_VERSION);
        ShowStatus(progress, L"Installing update 'one.msp' for 'A'.");
        statusBehindTheBox = ControlText(Window(), IDC_STATUS_TEXT);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 500 && IsWindow(box); ++i)
            Sleep(10);
        boxGone = !IsWindow(box);
        return 0;
    };
    appState.productName = L"Other Product";
    appState.productVersion = L"9.9";
    ASSERT_TRUE(dialog.Create());
    ShowWindow(Window(), SW_SHOW);
    Press(IDOK);
    PostMessageW(Window(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    ASSERT_TRUE(PumpUntil([&] { return Text(IDCANCEL) == L"Close"; }, 20000));

    EXPECT_EQ(owner, Window());
    EXPECT_EQ(aboutName, L"Tessarvane Updater");
    EXPECT_EQ(aboutVersion, L"Version 1.0") << "fixed, whatever version the payload holds";
    EXPECT_EQ(statusBehindTheBox, L"Installing update 'one.msp' for 'A'.");
    EXPECT_TRUE(boxGone);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Finished updating.");
}

TEST_F(WindowTest, MessagesBeforeInitDialogTouchNoObject)
{
    // A dialog whose user slot holds nothing, as before WM_INITDIALOG has bound the object.
    HWND other = CreateDialogParamW(instanceHandle, MAKEINTRESOURCEW(IDD_ABOUT), nullptr, AboutDialogProc, 0);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(GetWindowLongPtrW(other, DWLP_USER), 0);
    for (UINT message : {static_cast<UINT>(WM_DESTROY), static_cast<UINT>(WM_COMMAND),
                         static_cast<UINT>(WM_UPDATE_FAILED), static_cast<UINT>(WM_UPDATE_STATUS)}) {
        EXPECT_EQ(UpdaterDialog::DialogProc(other, message, IDCANCEL, 0), FALSE);
    }
    EXPECT_TRUE(IsWindow(other));
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "no quit was posted";
    DestroyWindow(other);
}
