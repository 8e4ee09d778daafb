// The fixture of the in-process window tests: the run state of product A 1.2, the fake run
// cleared, and a message pump for the test thread that works like the program's loop.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "FakeUpdateRun.h"
#include "UpdaterDialog.h"

class WindowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Pumps this thread's messages until done() holds, at most timeoutMs. A WM_QUIT is
    // taken off the queue and its code kept in quitCode.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000);
    // Pumps until nothing is left to handle.
    void PumpPending();
    bool PumpUntilQuit()
    {
        return PumpUntil([this] { return quitCode >= 0; });
    }

    HWND Window() const { return dialog.GetHwnd(); }
    HWND Item(int id) const { return GetDlgItem(dialog.GetHwnd(), id); }
    std::wstring Text(int id) const;
    void Press(int id) { SendMessageW(Window(), WM_COMMAND, id, 0); }
    void PostKey(HWND target, WPARAM key);

    UpdaterDialog dialog{FakeRunStarter()};
    int quitCode = -1;
};

// The visible About box of this process, or null after the time.
HWND WaitForAboutBox(DWORD timeoutMs = 10000);
