// tv-driver: the window driver as a command for scripts.
//   tv-driver [--timeout SECONDS] [ACTION]... PROGRAM [ARGUMENTS...]
// ACTION is one of:
//   --click "CAPTION=ID"       waits for a window with that caption, prints its text
//                              ("window: CAPTION: TEXT") and presses the button ID;
//   --sleep SECONDS            waits that long;
//   --wait-text "CAPTION=TEXT" waits until a window with that caption shows TEXT in its caption
//                              or in one of its visible controls, then until it has painted
//                              (CAPTION ends at the first '=');
//   --pause-for PATH           creates the file PATH, then waits until somebody deletes it, so
//                              that a script can take a screenshot meanwhile.
// Starts the program, then takes the actions in order, each within the time-out (60 s by
// default). Finally waits for the program's end, prints "exit: CODE" and returns that code;
// 124 on a time-out.
#include <cstdio>
#include <string>
#include <vector>

#include "WindowDriver.h"

namespace {

void Print(const std::wstring& line)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    printf("%s\n", utf8.c_str());
    fflush(stdout);
}

enum class ActionKind { Click, Sleep, WaitText, PauseFor };

struct Action {
    ActionKind kind;
    std::wstring caption;  // the window, for Click and WaitText
    std::wstring text;     // the text to wait for, or the marker file's path
    int number;            // the button to press, or the seconds to sleep
};

struct TextSearch {
    const std::wstring* text;
    bool found;
};

bool Contains(const std::wstring& haystack, const std::wstring& needle)
{
    return haystack.find(needle) != std::wstring::npos;
}

BOOL CALLBACK MatchControlText(HWND control, LPARAM parameter)
{
    auto* search = reinterpret_cast<TextSearch*>(parameter);
    if (IsWindowVisible(control) && Contains(WindowText(control), *search->text)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

bool ShowsText(HWND window, const std::wstring& text)
{
    if (Contains(WindowText(window), text))
        return true;
    TextSearch search{&text, false};
    EnumChildWindows(window, MatchControlText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK FindPendingPaint(HWND control, LPARAM parameter)
{
    if (!IsWindowVisible(control) || !GetUpdateRect(control, nullptr, FALSE))
        return TRUE;
    *reinterpret_cast<bool*>(parameter) = true;
    return FALSE;
}

// A control that animates (a marquee) may always have something to paint again, so this
// gives up after a while instead of failing: the text is there already.
void WaitUntilPainted(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        // Returns once the window's thread has handled the messages sent before; the paints
        // it owes come next, when it runs out of other messages.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        bool pending = GetUpdateRect(window, nullptr, FALSE) != FALSE;
        if (!pending)
            EnumChildWindows(window, FindPendingPaint, reinterpret_cast<LPARAM>(&pending));
        if (!pending)
            return;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
}

HWND WaitForText(const DrivenProcess& process, const std::wstring& caption, const std::wstring& text, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        HWND window = process.WaitForWindow(caption, elapsed < timeoutMs ? timeoutMs - elapsed : 0);
        if (window != nullptr && ShowsText(window, text))
            return window;
        if (window == nullptr || GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(20);
    }
}

// The marker file exists while the script works; the script ends the pause by deleting it.
bool PauseFor(const std::wstring& path, DWORD timeoutMs)
{
    HANDLE marker = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        Print(L"error: cannot create " + path);
        return false;
    }
    CloseHandle(marker);
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeoutMs) {
            DeleteFileW(path.c_str());
            Print(L"error: time-out waiting for the deletion of " + path);
            return false;
        }
        Sleep(20);
    }
    return true;
}

// Splits "CAPTION=VALUE" at the last '=' (a button id) or at the first one (a text).
bool SplitRule(const std::wstring& rule, bool atLast, std::wstring& caption, std::wstring& value)
{
    size_t equals = atLast ? rule.rfind(L'=') : rule.find(L'=');
    if (equals == std::wstring::npos)
        return false;
    caption = rule.substr(0, equals);
    value = rule.substr(equals + 1);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    DWORD timeoutMs = 60000;
    std::vector<Action> actions;
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (i + 1 >= argc)
            break;
        std::wstring caption;
        std::wstring value;
        if (argument == L"--timeout") {
            timeoutMs = static_cast<DWORD>(_wtoi(argv[++i])) * 1000;
        } else if (argument == L"--click") {
            if (!SplitRule(argv[++i], true, caption, value))
                return 2;
            actions.push_back({ActionKind::Click, caption, L"", _wtoi(value.c_str())});
        } else if (argument == L"--sleep") {
            actions.push_back({ActionKind::Sleep, L"", L"", _wtoi(argv[++i])});
        } else if (argument == L"--wait-text") {
            if (!SplitRule(argv[++i], false, caption, value))
                return 2;
            actions.push_back({ActionKind::WaitText, caption, value, 0});
        } else if (argument == L"--pause-for") {
            actions.push_back({ActionKind::PauseFor, L"", argv[++i], 0});
        } else {
            break;
        }
    }
    if (i >= argc) {
        Print(
            L"usage: tv-driver [--timeout SECONDS] [--click CAPTION=ID | --sleep SECONDS | "
            L"--wait-text CAPTION=TEXT | --pause-for PATH]... PROGRAM [ARGUMENTS...]");
        return 2;
    }
    std::wstring program = argv[i++];
    std::vector<std::wstring> arguments(argv + i, argv + argc);

    DrivenProcess process;
    if (!process.Start(program, arguments)) {
        Print(L"error: cannot start " + program);
        return 2;
    }
    for (const Action& action : actions) {
        switch (action.kind) {
        case ActionKind::Sleep:
            Sleep(static_cast<DWORD>(action.number) * 1000);
            break;
        case ActionKind::PauseFor:
            if (!PauseFor(action.text, timeoutMs))
                return 124;
            break;
        case ActionKind::WaitText: {
            HWND window = WaitForText(process, action.caption, action.text, timeoutMs);
            if (window == nullptr) {
                Print(L"error: no window \"" + action.caption + L"\" showing \"" + action.text + L"\"");
                return 124;
            }
            WaitUntilPainted(window, 2000);
            Print(L"shows: " + action.caption + L": " + action.text);
            break;
        }
        case ActionKind::Click: {
            HWND window = process.WaitForWindow(action.caption, timeoutMs);
            if (window == nullptr) {
                Print(L"error: no window \"" + action.caption + L"\"");
                return 124;
            }
            Print(L"window: " + action.caption + L": " + MessageBoxText(window));
            PressButton(window, action.number);
            Sleep(100);
            break;
        }
        }
    }
    DWORD exitCode = 0;
    if (!process.WaitForExit(timeoutMs, exitCode)) {
        Print(L"error: time-out waiting for the program to end");
        return 124;
    }
    Print(L"exit: " + std::to_wstring(exitCode));
    return static_cast<int>(exitCode);
}
