// The progress window of the window modes: a modeless dialog made from IDD_UPDATER and
// driven by one UpdaterDialog, which wWinMain owns and outlives the window. The main thread
// runs every handler; the worker (UpdaterThreadProc) reaches the window only through
// SendMessageW of the messages in UpdaterMessages.h.
#pragma once

#include <windows.h>

#include <string>

class UpdaterDialog {
public:
    UpdaterDialog() = default;
    UpdaterDialog(const UpdaterDialog&) = delete;
    UpdaterDialog& operator=(const UpdaterDialog&) = delete;

    // Makes the window, still hidden. In unattended mode the run is already under way when
    // this returns. False when no window came back.
    bool Create();
    HWND GetHwnd() const { return hwnd; }

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static unsigned __stdcall UpdaterThreadProc(void* parameter);

private:
    BOOL OnInitDialog();
    bool OnCommand(int id, int notificationCode, HWND control);
    bool OnSysCommand(int id);
    void OnDestroy();
    void OnStart();
    void OnFinished(bool succeeded, int result);
    void SetStatus(const wchar_t* text);
    void ShowAbout();

    HWND hwnd = nullptr;  // set while WM_INITDIALOG binds the window, never changed after
    // Made by OnStart before the worker starts; only read afterwards, on both threads.
    std::wstring workingFolder;
    // Set by the worker when its own CreateDirectoryW made the folder, before it sends its
    // outcome; read by OnDestroy, which only runs once the worker has reported.
    bool folderCreated = false;

    // Main thread only.
    bool started = false;         // one run per window
    bool running = false;         // a worker exists and has not reported yet
    bool closeRequested = false;  // closed during the run: close once the worker reports
    // The run's result as ApplyUpdates gives it; an unattended run exits with it. A window
    // that closes before any outcome arrived has updated nothing.
    int runResult = 1;
};
