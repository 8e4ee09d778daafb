// tv-driver: the window driver as a command for scripts.
//   tv-driver [--timeout SECONDS] [--click "CAPTION=ID" | --sleep SECONDS]... PROGRAM [ARGUMENTS...]
// Starts the program, then takes the actions in order: --click waits for a window with that
// caption, prints its text ("window: CAPTION: TEXT") and presses the button ID; --sleep
// waits (so that a script can take a screenshot meanwhile). Finally waits for the program's
// end, prints "exit: CODE" and returns that code; 124 on a time-out.
#include <cstdio>
#include <string>
#include <vector>

#include "WindowDriver.h"

static void Print(const std::wstring& line)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    printf("%s\n", utf8.c_str());
    fflush(stdout);
}

int wmain(int argc, wchar_t** argv)
{
    DWORD timeoutMs = 60000;
    struct Action {
        std::wstring caption;  // empty: a pause
        int id;                // button to press, or seconds to pause
    };
    std::vector<Action> actions;
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (argument == L"--timeout" && i + 1 < argc) {
            timeoutMs = static_cast<DWORD>(_wtoi(argv[++i])) * 1000;
        } else if (argument == L"--click" && i + 1 < argc) {
            std::wstring rule = argv[++i];
            size_t equals = rule.rfind(L'=');
            if (equals == std::wstring::npos)
                return 2;
            actions.push_back({rule.substr(0, equals), _wtoi(rule.c_str() + equals + 1)});
        } else if (argument == L"--sleep" && i + 1 < argc) {
            actions.push_back({L"", _wtoi(argv[++i])});
        } else {
            break;
        }
    }
    if (i >= argc) {
        Print(L"usage: tv-driver [--timeout SECONDS] [--click CAPTION=ID | --sleep SECONDS]... PROGRAM [ARGUMENTS...]");
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
        if (action.caption.empty()) {
            Sleep(static_cast<DWORD>(action.id) * 1000);
            continue;
        }
        HWND window = process.WaitForWindow(action.caption, timeoutMs);
        if (window == nullptr) {
            Print(L"error: no window \"" + action.caption + L"\"");
            return 124;
        }
        Print(L"window: " + action.caption + L": " + MessageBoxText(window));
        PressButton(window, action.id);
        Sleep(100);
    }
    DWORD exitCode = 0;
    if (!process.WaitForExit(timeoutMs, exitCode)) {
        Print(L"error: time-out waiting for the program to end");
        return 124;
    }
    Print(L"exit: " + std::to_wstring(exitCode));
    return static_cast<int>(exitCode);
}
