// Command-line parsing. Options are taken one at a time from argument 1 on; an option
// whose value is left out takes the executable's folder and ends parsing there, so the
// arguments after it are never looked at (but for the options of the check and the removal,
// which are looked for everywhere).
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
        L"       -l: enable logging\n"
        L"       -q: check only, change nothing\n"
        L"       -w: seconds to wait for another installation\n"
        L"       -u: remove the updates\n";
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

// The longest wait -w accepts: a day.
const uint32_t longestWait = 86400;

// Reads the seconds of "-w" at argv[index]: decimal digits only, at most a day. False for a
// missing or other value.
static bool TakeWaitSeconds(int argc, wchar_t** argv, int& index)
{
    if (index + 1 >= argc)
        return false;
    const wchar_t* text = argv[++index];
    uint32_t seconds = 0;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        seconds = seconds * 10 + static_cast<uint32_t>(*c - L'0');
        if (seconds > longestWait)
            return false;
    }
    if (text[0] == L'\0')
        return false;
    appState.waitSeconds = seconds;
    return true;
}

// The grammar's pass: appState's mode and folders. Stops at a rejected argument, or after an
// option whose value was left out.
static void ParseOptions(int argc, wchar_t** argv, bool& waitGiven)
{
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (wcscmp(argument, L"-a") == 0 && appState.runMode == RunMode::Interactive) {
            appState.runMode = RunMode::Unattended;
            continue;
        }
        if (wcscmp(argument, L"-q") == 0 && appState.runMode == RunMode::Interactive) {
            appState.runMode = RunMode::Check;
            continue;
        }
        if (wcscmp(argument, L"-u") == 0 && !appState.removal &&
            (appState.runMode == RunMode::Interactive || appState.runMode == RunMode::Unattended)) {
            appState.removal = true;
            continue;
        }
        if (wcscmp(argument, L"-w") == 0 && !waitGiven && appState.runMode != RunMode::Extract) {
            waitGiven = true;
            if (TakeWaitSeconds(argc, argv, i))
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

static bool OnLine(int argc, wchar_t** argv, const wchar_t* option)
{
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

bool ParseCommandLine(int argc, wchar_t** argv)
{
    if (argv == nullptr)
        return false;
    bool waitGiven = false;
    ParseOptions(argc, argv, waitGiven);
    // Extraction never waits for Windows Installer: it does not use it. Nor does it, or a check,
    // remove anything.
    if (waitGiven && appState.runMode == RunMode::Extract)
        appState.runMode = RunMode::Invalid;
    if (appState.removal && appState.runMode != RunMode::Interactive && appState.runMode != RunMode::Unattended)
        appState.runMode = RunMode::Invalid;
    // A check or a removal asked for anywhere is that run or a rejected line, never an update
    // run: an option without a value ends parsing, and "-l -q" or "-l -u" would otherwise patch
    // the machine.
    bool check = OnLine(argc, argv, L"-q");
    if (check && appState.runMode != RunMode::Check)
        appState.runMode = RunMode::Invalid;
    if (OnLine(argc, argv, L"-u") && !appState.removal)
        appState.runMode = RunMode::Invalid;
    bool noBoxes = check || OnLine(argc, argv, L"-a");
    int firstLog = 0;
    for (int i = 1; i < argc && firstLog == 0; ++i) {
        if (wcscmp(argv[i], L"-l") == 0)
            firstLog = i;
    }
    if (appState.runMode == RunMode::Invalid && noBoxes && appState.logFolder.empty() && firstLog != 0)
        TakeOptionValue(argc, argv, firstLog, appState.logFolder);
    return noBoxes;
}
