// The program's entry point: start-up on the main thread, then the run mode's branch, each
// driving the one run object (UpdateRun.h) and finishing it on the way out.
// Exit codes: 1 for every failure before a window exists (1639 for a rejected command line
// that asks for no interaction), the extraction's result in extract mode, and otherwise what
// the window's message loop ends with: 0 for an interactive window, the update run's result
// (0, 3010 or an error code) in unattended mode.
// With "-a" anywhere on the command line no message box is ever shown: deployment tools run
// the updater as SYSTEM, where nobody can answer one, and a box would hang the deployment.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "AppState.h"
#include "CommandLine.h"
#include "Log.h"
#include "LogFolder.h"
#include "MessageLoop.h"
#include "PayloadHeader.h"
#include "StringTable.h"
#include "SystemLibraries.h"
#include "UpdateRun.h"
#include "UpdaterDialog.h"
#include "resource.h"

static const wchar_t* const caption = L"Tessarvane Updater";

// Opens the program's own file for reading; the handle goes into appState.
static void OpenPayloadFile()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    appState.payloadFile.reset(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nCmdShow)
{
    // Before any DLL is loaded by name: the updater runs elevated, often from a folder that
    // others can write to, so DLLs come from the system folder only.
    RestrictDllSearch();
    instanceHandle = hInstance;
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    // Whatever happens from here on is the run's to record, and every way out finishes it.
    UpdateRun run;

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool noBoxes = ParseCommandLine(argv == nullptr ? 0 : argc, argv);
    if (argv != nullptr)
        LocalFree(argv);

    if (noBoxes) {
        // Nor the system's boxes: no critical-error or crash report, no runtime error box.
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
        _set_error_mode(_OUT_TO_STDERR);
    }
    if (appState.runMode == RunMode::Invalid && !noBoxes) {
        MessageBoxW(nullptr, UsageText().c_str(), caption, MB_OK);
        return 1;
    }

    if (!appState.logFolder.empty()) {
        PrepareLogFolder();
        OpenLogFile();
    }
    if (appState.runMode == RunMode::Invalid) {
        // What msiexec answers for a command line it cannot use.
        run.Record().LogFailure(RunStep::CommandLine, ERROR_INVALID_COMMAND_LINE,
                                L"The command line was rejected. Usage: %s", usageSynopsis);
        return run.Finish(ERROR_INVALID_COMMAND_LINE);
    }

    OpenPayloadFile();
    switch (ReadPayloadHeader(run.Record())) {
    case PayloadMissing: {
        std::wstring empty = LoadResString(IDS_EMPTY_UPDATER);
        run.Record().RecordFailure(RunStep::Payload, 1, empty.c_str());
        if (noBoxes)
            LogMessage(empty.c_str());
        else
            MessageBoxW(nullptr, empty.c_str(), caption, MB_OK);
        return run.Finish(1);
    }
    case PayloadHeaderUnreadable:
        return run.Finish(1);
    default:
        break;
    }

    if (appState.runMode == RunMode::Extract)
        return run.Finish(run.Extract());

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // Only the window needs the common controls (its marquee bar), and loading them costs
    // more than the rest of start-up together: comctl32 is delay-loaded here, at this call.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    // Outlives the window, which is gone once the loop has ended; the run outlives both.
    UpdaterDialog dialog(run.Starter());
    if (!dialog.Create()) {
        CoUninitialize();
        return run.Finish(1);
    }
    ShowWindow(dialog.GetHwnd(), nCmdShow);
    int exitCode = RunMessageLoop(dialog);
    CoUninitialize();
    return run.Finish(exitCode);
}
