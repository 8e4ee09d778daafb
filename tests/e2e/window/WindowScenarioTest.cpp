// The window modes of the real updater, driven from outside through Win32: the texts the
// window shows in each state, the log, the exit code, and that the working folder is gone
// from the temporary folder afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "WindowDriver.h"

namespace {

const wchar_t* const Caption = L"Tessarvane Updater";
const wchar_t* const Header = L"This utility will update your Sample Product to version 2.0.";
const DWORD Timeout = 60000;

// Control ids of the progress window.
const int HeaderText = 1001;
const int StatusText = 1004;
const int Progress = 1002;

// An updater that carries nothing has nothing to apply and begins no transaction.
const std::vector<std::wstring> SucceededLog = {L"Extracting update files.", L"Determining applicable patches.",
                                                L"No update needs applying; no MSI transaction was begun."};
// Wine's Windows Installer answers 1627 (ERROR_FUNCTION_FAILED) when asked to open a file
// that is no patch as a patch database; Windows' may give another error there, so the code is
// Wine's and the test claims only that the run stops at the open with the code it was given.
const unsigned WineNotAPatchError = 1627;
const std::vector<std::wstring> FailedLog = {
    L"Extracting update files.",
    L"Opening patch 'notes.msp' failed with error=" + std::to_wstring(WineNotAPatchError) + L"."};

std::wstring WindowsPath(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

std::wstring Updater(size_t index)
{
    return testArguments.size() > index ? WindowsPath(testArguments[index]) : std::wstring();
}

bool WaitForText(HWND window, int id, const std::wstring& text, DWORD timeoutMs = Timeout)
{
    DWORD start = GetTickCount();
    while (ControlText(window, id) != text) {
        if (GetTickCount() - start > timeoutMs || !IsWindow(window))
            return false;
        Sleep(20);
    }
    return true;
}

class WindowScenario : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(testArguments.size(), 2u) << "pass the packed updaters' paths";
        foldersBefore = ListFolder(WindowsTempFolder(), Entries::Folders);
    }

    void ExpectNoWorkingFolderLeft() { EXPECT_EQ(ListFolder(WindowsTempFolder(), Entries::Folders), foldersBefore); }

    // Runs an updater interactively: checks the idle window, presses OK, waits for the
    // outcome, checks the finished window and presses Close.
    void RunInteractive(const std::wstring& updater, const std::wstring& outcome)
    {
        DrivenProcess process;
        ASSERT_TRUE(process.Start(updater, {L"-l", logs.path()}));
        HWND window = process.WaitForWindow(Caption, Timeout);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ControlText(window, HeaderText), Header);
        EXPECT_EQ(ControlText(window, StatusText), L"Click 'OK' to continue");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, Progress)));
        EXPECT_EQ(ControlText(window, IDCANCEL), L"Cancel");

        PressButton(window, IDOK);
        ASSERT_TRUE(WaitForText(window, StatusText, outcome)) << "shows: " << ControlText(window, StatusText).size();
        EXPECT_EQ(ControlText(window, IDCANCEL), L"Close");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDOK)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, Progress)));
        DWORD exitCode = 0;
        EXPECT_FALSE(process.WaitForExit(200, exitCode)) << "an interactive window waits for Close";

        PressButton(window, IDCANCEL);
        ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
        EXPECT_EQ(exitCode, 0u) << "the outcome is in the window, not in the exit code";
    }

    DWORD RunUnattended(const std::wstring& updater)
    {
        DrivenProcess process;
        EXPECT_TRUE(process.Start(updater, {L"-a", L"-l", logs.path()}));
        DWORD exitCode = 0xFFFFFFFF;
        EXPECT_TRUE(process.WaitForExit(Timeout, exitCode)) << "an unattended run closes by itself";
        return exitCode;
    }

    std::vector<std::wstring> Log() { return ReadLogMessages(logs / L"TessarvaneUpdater.log"); }

    TempFolder logs;
    std::vector<std::wstring> foldersBefore;
};

// While it lives, Wine's X11 driver hands new windows to a window manager again, as it does by
// default; the test prefix turns that off (scripts/wine-env), since Xvfb has no window manager
// and each window going away would wait 2 s for one. The setting is read when a process starts.
class WinesDefaultWindowManagement {
public:
    WinesDefaultWindowManagement() { RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Managed"); }
    ~WinesDefaultWindowManagement()
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Managed", REG_SZ, L"N", 2 * sizeof(wchar_t));
    }
    WinesDefaultWindowManagement(const WinesDefaultWindowManagement&) = delete;
    WinesDefaultWindowManagement& operator=(const WinesDefaultWindowManagement&) = delete;

private:
    static constexpr const wchar_t* key = L"Software\\Wine\\X11 Driver";
};

}  // namespace

TEST_F(WindowScenario, AnInteractiveRunOfNothingSucceedsAndCloses)
{
    RunInteractive(Updater(0), L"Finished updating.");
    EXPECT_EQ(Log(), SucceededLog);
    KeepResultFile(logs.path());
    ExpectNoWorkingFolderLeft();
}

// The same on a Wine that nobody set up for the tests: the windows are managed.
TEST_F(WindowScenario, AnInteractiveRunOfNothingSucceedsAndClosesWithWinesDefaultWindowManagement)
{
    WinesDefaultWindowManagement managed;
    RunInteractive(Updater(0), L"Finished updating.");
    EXPECT_EQ(Log(), SucceededLog);
    ExpectNoWorkingFolderLeft();
}

TEST_F(WindowScenario, AnInteractiveRunOfAFileThatIsNoPatchFailsButExitsWithZero)
{
    RunInteractive(Updater(1), L"Update failed.");
    EXPECT_EQ(Log(), FailedLog);
    KeepResultFile(logs.path());
    ExpectNoWorkingFolderLeft();
}

TEST_F(WindowScenario, AnUnattendedRunEndsByItselfWithItsOutcomeAsExitCode)
{
    EXPECT_EQ(RunUnattended(Updater(0)), 0u);
    EXPECT_EQ(Log(), SucceededLog);
    KeepResultFile(logs.path());
    ExpectNoWorkingFolderLeft();
}

TEST_F(WindowScenario, AnUnattendedRunThatFailsExitsWithOne)
{
    // A patch that cannot be read is no installer error of its own: 1, as for any such failure.
    EXPECT_EQ(RunUnattended(Updater(1)), 1u) << "nobody sees the window: the exit code must tell";
    EXPECT_EQ(Log(), FailedLog);
    KeepResultFile(logs.path());
    ExpectNoWorkingFolderLeft();
}

TEST_F(WindowScenario, CancelBeforeOkEndsWithZeroAndNothingLogged)
{
    DrivenProcess process;
    ASSERT_TRUE(process.Start(Updater(0), {L"-l", logs.path()}));
    HWND window = process.WaitForWindow(Caption, Timeout);
    ASSERT_NE(window, nullptr);
    PressButton(window, IDCANCEL);
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Log().empty());
    KeepResultFile(logs.path());
    ExpectNoWorkingFolderLeft();
}
