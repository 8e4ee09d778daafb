// The progress window of the window modes: a modeless dialog made from IDD_UPDATER and
// driven by one UpdaterDialog, which wWinMain owns and outlives the window. The main thread
// runs every handler; the worker (UpdaterThreadProc) performs the update run it was given
// and reaches the window only through SendMessageW of the messages in UpdaterMessages.h, by
// itself or through the update run's progress (UpdateProgress.h), which the window answers.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "AppState.h"
#include "UpdateProgress.h"

// The window's life; only Running has a worker.
//   Idle      OK: Running (Finished, failed, when no worker starts)    Cancel: Closed
//   Running   outcome: Finished (Closed at once when unattended or asked to close)
//             Cancel: a close request, kept until the outcome
//   Finished  Cancel: Closed
// The About box opens in every state but Closed and changes none.
enum class WindowState { Idle, Running, Finished, Closed };

// What the message loop ends with once the window has closed. Nobody sees an unattended
// window, so the run's result is its only report there; an interactive window has shown its
// outcome and always ends with 0.
int WindowExitCode(RunMode runMode, int runResult);

// The whole update run, called on the worker with the working folder and the window's side of
// the run's progress: the program gives ApplyUpdates, the tests a scripted run. Its result is
// what the outcome message carries (see RunResultSucceeded).
using UpdateRunFunction = int (*)(const wchar_t* folder, const UpdateProgress& progress);

class UpdaterDialog {
public:
    explicit UpdaterDialog(UpdateRunFunction run) : updateRun(run) {}
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
    void OnFinished(bool succeeded, int result);
    void SetStatus(const wchar_t* text);
    void ShowAbout();

    const UpdateRunFunction updateRun;
    HWND hwnd = nullptr;  // set while WM_INITDIALOG binds the window, never changed after
    // Made by OnStart before the worker starts; only read afterwards, on both threads.
    std::wstring workingFolder;
    // Set by the worker once its own CreateDirectoryW made the folder; read by OnDestroy.
    // Only a folder this run created is deleted.
    std::atomic<bool> folderCreated{false};

    // Main thread only.
    WindowState state = WindowState::Idle;
    // Closed while Running: the worker still uses the folder and this object, so the window
    // closes once the outcome has arrived.
    bool closeRequested = false;
    // The run's result as ApplyUpdates gives it, kept when the outcome arrives. A window that
    // closes before any outcome arrived has updated nothing.
    int runResult = 1;
};
