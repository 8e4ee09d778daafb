// Drives a real program from outside, through Win32 only: starts it, finds its top-level
// windows and message boxes, reads their texts, presses buttons, and waits for its end.
// Every wait has a time-out, so a test fails instead of hanging.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class DrivenProcess {
public:
    DrivenProcess() = default;
    ~DrivenProcess();  // a process still running is terminated
    DrivenProcess(const DrivenProcess&) = delete;
    DrivenProcess& operator=(const DrivenProcess&) = delete;

    // Starts program with the given arguments, each quoted as needed, in the given current
    // folder (null: this process's); with standardOutput (an inheritable handle), that as its
    // standard output, as a script that reads the program's output starts it.
    bool Start(const std::wstring& program, const std::vector<std::wstring>& arguments,
               const wchar_t* currentFolder = nullptr, HANDLE standardOutput = nullptr);

    // A visible top-level window of the process with this caption (any caption when empty).
    HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs) const;

    // True when the process ended within the time; its exit code is then stored.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode);

    // Kills the process at once, as a user or a deployment tool's time-out might.
    void Terminate();

    DWORD id() const { return info_.dwProcessId; }
    bool running() const;

private:
    PROCESS_INFORMATION info_{};
};

// The text of a window or of one of its controls.
std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);

// The message text of a message box: its static control that holds text.
std::wstring MessageBoxText(HWND box);

// The class name of a window, for example "#32770" for dialogs and message boxes.
std::wstring WindowClass(HWND window);

// Presses a button of a dialog or message box, as a click would.
void PressButton(HWND dialog, int id);

// The ids of the push buttons of a dialog, in child order.
std::vector<int> ButtonIds(HWND dialog);

// Quotes one argument by the rules that CommandLineToArgvW undoes.
std::wstring QuoteArgument(const std::wstring& argument);
