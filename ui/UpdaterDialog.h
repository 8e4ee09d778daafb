// The progress window of the window modes: a modeless dialog made from IDD_UPDATER and
// driven by one UpdaterDialog, which wWinMain owns and outlives the window. The main thread
// runs every handler; the worker (UpdaterThreadProc) starts the run it was given and reaches
// the window only through SendMessageW of the messages in UpdaterMessages.h, by itself or
// through the run's progress (UpdateProgress.h), which the window answers. The window owns no
// part of the run: it shows its header, its progress, its one question and its outcome.
#pragma once

#include <windows.h>

#include "AppState.h"
#include "UpdateProgress.h"

// The window's life; only Running has a worker.
//   Idle      OK: Running (Finished, failed, when no worker starts)    Cancel: Closed
//   Running   outcome: Finished (Closed at once when unattended or asked to close)
//             Cancel: a close request, kept until the outcome
//   Finished  Cancel: Closed
// The About box opens in every state but Closed and changes none.
enum class WindowState { Idle, Running, Finished, Closed };

class UpdaterDialog {
public:
    // The run the window starts: the program gives its run object's, the tests a scripted one.
    explicit UpdaterDialog(RunStarter starter) : run(starter) {}
    UpdaterDialog(const UpdaterDialog&) = delete;
    UpdaterDialog& operator=(const UpdaterDialog&) = delete;

    // Makes the window, still hidden. In unattended mode the run is already under way when
    // this returns. False when no window came back.
    bool Create();
    HWND GetHwnd() const { return hwnd; }

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static unsigned __stdcall UpdaterThreadProc(void* parameter);
    // The window's answers to the run's progress, on the worker thread.
    static void ShowRunStatus(void* dialog, const wchar_t* text);
    static bool ConfirmRestart(void* dialog);

private:
    BOOL OnInitDialog();
    bool OnCommand(int id, int notificationCode, HWND control);
    bool OnSysCommand(int id);
    void OnDestroy();
    void OnStart();
    void OnFinished(bool succeeded, int code);
    void SetStatus(const wchar_t* text);
    void ShowAbout();

    const RunStarter run;
    HWND hwnd = nullptr;  // set while WM_INITDIALOG binds the window, never changed after

    // Main thread only.
    WindowState state = WindowState::Idle;
    // Closed while Running: the worker still uses the run and this object, so the window
    // closes once the outcome has arrived.
    bool closeRequested = false;
    // What the message loop ends with, kept when the outcome arrives. A window that closes
    // before any run has updated nothing and ends with 0.
    int exitCode = 0;
};
