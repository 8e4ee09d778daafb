// The progress window and its worker thread. Handlers run on the main thread; only
// UpdaterThreadProc runs on the worker, which exists from OnStart until its outcome message
// has been handled.
#include "UpdaterDialog.h"

#include <commctrl.h>
#include <process.h>
#include <strsafe.h>

#include "AboutDialog.h"
#include "AppState.h"
#include "CenterWindow.h"
#include "StringTable.h"
#include "UpdaterMessages.h"
#include "resource.h"

bool UpdaterDialog::Create()
{
    HWND window = CreateDialogParamW(instanceHandle, MAKEINTRESOURCEW(IDD_UPDATER), nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

INT_PTR CALLBACK UpdaterDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        UpdaterDialog* dialog = reinterpret_cast<UpdaterDialog*>(lParam);
        dialog->hwnd = window;
        return dialog->OnInitDialog();
    }

    // Messages that come before WM_INITDIALOG (or when creation failed) find no object.
    UpdaterDialog* dialog = reinterpret_cast<UpdaterDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;

    switch (message) {
    case WM_COMMAND:
        return dialog->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SYSCOMMAND:
        return dialog->OnSysCommand(LOWORD(wParam));
    case WM_DESTROY:
        dialog->OnDestroy();
        return FALSE;
    case WM_UPDATE_SUCCEEDED:
        dialog->OnFinished(true, static_cast<int>(wParam));
        return TRUE;
    case WM_UPDATE_FAILED:
        dialog->OnFinished(false, static_cast<int>(wParam));
        return TRUE;
    case WM_UPDATE_STATUS:
        dialog->SetStatus(reinterpret_cast<const wchar_t*>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL UpdaterDialog::OnInitDialog()
{
    CenterWindow(hwnd);

    HMENU systemMenu = GetSystemMenu(hwnd, FALSE);
    AppendMenuW(systemMenu, MF_STRING, IDM_ABOUT, L"&About");

    wchar_t header[512];
    StringCchPrintfW(header, ARRAYSIZE(header), LoadResString(IDS_INTRO_FORMAT).c_str(), appState.productName.c_str(),
                     appState.productVersion.c_str());
    SetDlgItemTextW(hwnd, IDC_HEADER_TEXT, header);

    // A shared icon: never destroyed. Only the small icon is set.
    HICON icon = LoadIconW(instanceHandle, MAKEINTRESOURCEW(IDI_UPDATER));
    if (icon != nullptr)
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    if (appState.runMode == RunMode::Unattended)
        SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
    return FALSE;
}

bool UpdaterDialog::OnCommand(int id, int, HWND)
{
    switch (id) {
    case IDOK:
        OnStart();
        return true;
    case IDCANCEL:
        // The worker uses the run, this object and the run state until it reports, so a
        // close during the run waits for that.
        if (state == WindowState::Running) {
            closeRequested = true;
            return true;
        }
        DestroyWindow(hwnd);
        return true;
    default:
        return false;
    }
}

bool UpdaterDialog::OnSysCommand(int id)
{
    if (id != IDM_ABOUT)
        return false;
    ShowAbout();
    return true;
}

void UpdaterDialog::ShowAbout()
{
    DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(IDD_ABOUT), hwnd, AboutDialogProc, 0);
}

void UpdaterDialog::OnStart()
{
    // Enter reaches here even with OK disabled, and the payload can be read only once.
    if (state != WindowState::Idle)
        return;
    state = WindowState::Running;

    EnableWindow(GetDlgItem(hwnd, IDOK), FALSE);
    SetDlgItemTextW(hwnd, IDC_STATUS_TEXT, LoadResString(IDS_APPLYING_UPDATES).c_str());
    HWND progress = GetDlgItem(hwnd, IDC_PROGRESS);
    ShowWindow(progress, SW_SHOW);
    SendMessageW(progress, PBM_SETMARQUEE, TRUE, 0);

    uintptr_t thread = _beginthreadex(nullptr, 0, UpdaterThreadProc, this, 0, nullptr);
    if (thread != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(thread));
        return;
    }
    RunEnd end = run.notStarted(run.run, GetLastError());
    OnFinished(end.succeeded, end.exitCode);
}

unsigned __stdcall UpdaterDialog::UpdaterThreadProc(void* parameter)
{
    UpdaterDialog* dialog = static_cast<UpdaterDialog*>(parameter);
    HWND window = dialog->hwnd;
    UpdateProgress progress;
    progress.watcher = dialog;
    progress.showStatus = ShowRunStatus;
    progress.confirmRestart = ConfirmRestart;
    RunEnd end = dialog->run.start(dialog->run.run, progress);
    // The outcome travels in the message: the window keeps it on the main thread, so nothing
    // written here is read there afterwards. The window may be destroyed while handling this;
    // nothing here touches it afterwards.
    SendMessageW(window, end.succeeded ? WM_UPDATE_SUCCEEDED : WM_UPDATE_FAILED, static_cast<WPARAM>(end.exitCode), 0);
    return 0;
}

void UpdaterDialog::ShowRunStatus(void* dialog, const wchar_t* text)
{
    // The window has taken the text when the send returns.
    SendMessageW(static_cast<UpdaterDialog*>(dialog)->hwnd, WM_UPDATE_STATUS, reinterpret_cast<WPARAM>(text), 0);
}

bool UpdaterDialog::ConfirmRestart(void* parameter)
{
    // Nobody sees an unattended window: it never shows a box.
    if (appState.runMode == RunMode::Unattended)
        return false;
    UpdaterDialog* dialog = static_cast<UpdaterDialog*>(parameter);
    return MessageBoxW(dialog->hwnd,
                       L"Product updates successfully applied, but a reboot is required. Would you like to reboot now?",
                       L"Tessarvane Updater - Reboot Required", MB_YESNO) == IDYES;
}

void UpdaterDialog::OnFinished(bool succeeded, int code)
{
    state = WindowState::Finished;
    exitCode = code;

    // The bar goes first: whoever sees the outcome text sees the finished window.
    HWND progress = GetDlgItem(hwnd, IDC_PROGRESS);
    ShowWindow(progress, SW_HIDE);
    SendMessageW(progress, PBM_SETMARQUEE, FALSE, 0);
    SetDlgItemTextW(hwnd, IDCANCEL, LoadResString(IDS_CLOSE).c_str());
    SetDlgItemTextW(hwnd, IDC_STATUS_TEXT, LoadResString(succeeded ? IDS_FINISHED : IDS_FAILED).c_str());

    if (appState.runMode == RunMode::Unattended || closeRequested)
        SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
}

void UpdaterDialog::SetStatus(const wchar_t* text)
{
    SetDlgItemTextW(hwnd, IDC_STATUS_TEXT, text);
}

void UpdaterDialog::OnDestroy()
{
    state = WindowState::Closed;
    PostQuitMessage(exitCode);
}
