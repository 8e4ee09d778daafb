// Command-line parsing. Options are taken one at a time from argument 1 on; an option
// whose value is left out takes the executable's folder and ends parsing there, so the
// arguments after it are never looked at.
#include "CommandLine.h"

#include <windows.h>

#include <cwchar>

#include "AppState.h"

const wchar_t usageSynopsis[] = L"TessarvaneUpdater [[-x [outdir]]|[-a]] [-l [logdir]]";

std::wstring UsageText()
{
    std::wstring text = L"Usage: ";
    text += usageSynopsis;
    text +=
        L"\n"
        L"       -x: extract update files\n"
        L"       -a: no interaction mode\n"
        L"       -l: enable logging\n";
    return text;
}

bool GetExecutableFolder(std::wstring& folder)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A path that fills the buffer was cut: its last backslash may be that of an ancestor, so
    // it is no better than no path at all, as at start-up.
    if (length == 0 || length >= MAX_PATH)
        return false;
    const wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr)
        return false;
    folder.assign(path, static_cast<size_t>(slash - path));
    return true;
}

// Reads the value of the option at argv[index]. Returns true when parsing goes on after a
// consumed value, false when the value was left out and parsing ends.
static bool TakeOptionValue(int argc, wchar_t** argv, int& index, std::wstring& folder)
{
    if (index + 1 < argc && argv[index + 1][0] != L'-') {
        ++index;
        folder = argv[index];
        return true;
    }
    std::wstring executableFolder;
    if (GetExecutableFolder(executableFolder))
        folder = executableFolder;
    return false;
}

// The grammar's pass: appState's mode and folders. Stops at a rejected argument, or after an
// option whose value was left out.
static void ParseOptions(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (wcscmp(argument, L"-a") == 0 && appState.runMode == RunMode::Interactive) {
            appState.runMode = RunMode::Unattended;
            continue;
        }
        if (wcscmp(argument, L"-x") == 0 && appState.runMode == RunMode::Interactive) {
            appState.runMode = RunMode::Extract;
            if (!TakeOptionValue(argc, argv, i, appState.extractFolder))
                return;
            continue;
        }
        if (wcscmp(argument, L"-l") == 0 && appState.logFolder.empty()) {
            if (!TakeOptionValue(argc, argv, i, appState.logFolder))
                return;
            continue;
        }
        appState.runMode = RunMode::Invalid;
        return;
    }
}

bool ParseCommandLine(int argc, wchar_t** argv)
{
    if (argv == nullptr)
        return false;
    ParseOptions(argc, argv);
    bool noBoxes = false;
    int firstLog = 0;
    for (int i = 1; i < argc; ++i) {
        noBoxes = noBoxes || wcscmp(argv[i], L"-a") == 0;
        if (firstLog == 0 && wcscmp(argv[i], L"-l") == 0)
            firstLog = i;
    }
    if (appState.runMode == RunMode::Invalid && noBoxes && appState.logFolder.empty() && firstLog != 0)
        TakeOptionValue(argc, argv, firstLog, appState.logFolder);
    return noBoxes;
}
