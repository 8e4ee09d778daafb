// The run object, as the window's worker and wWinMain drive it: the elevation check and the
// working folder before the update, the restart decision after it, the reports it leaves, and
// the end of a run that never began. Windows Installer, the extraction and the restart calls are
// the fakes of this binary; the working folder is a real one under the Windows folder's Temp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppState.h"
#include "Fakes.h"
#include "Folders.h"
#include "Log.h"
#include "TestFiles.h"
#include "UpdateRun.h"

namespace {

// The folder that holds the working folders, with a final backslash.
std::wstring WorkingFolderParent()
{
    wchar_t windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, length) + L"\\Temp\\";
}

// The window's side of a run: answers the restart question as told and notes what the log
// folder held when it was asked.
class Watcher {
public:
    explicit Watcher(bool answer, const std::wstring& resultFile) : answer_(answer), resultFile_(resultFile)
    {
        progress.watcher = this;
        progress.confirmRestart = Confirm;
    }

    UpdateProgress progress;
    int questions = 0;
    bool resultFileAtQuestion = false;

private:
    static bool Confirm(void* watcher)
    {
        Watcher* self = static_cast<Watcher*>(watcher);
        ++self->questions;
        fake.calls.push_back(L"ConfirmRestart");
        self->resultFileAtQuestion = FileExists(self->resultFile_);
        return self->answer_;
    }

    bool answer_;
    std::wstring resultFile_;
};

class TheRun : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        ResetAppState();
        appState.logFolder = logs.path() + L"\\";
        OpenLogFile();
        fake.patches = {{L"a.msp", L"{A}"}};
        fake.products[L"{A}"];
    }

    void TearDown() override
    {
        ResetAppState();
        ResetFake();
    }

    std::wstring ResultFile() const { return logs / L"TessarvaneUpdater.json"; }

    std::string Result() const
    {
        Bytes bytes;
        ReadAllBytes(ResultFile(), bytes);
        return std::string(bytes.begin(), bytes.end());
    }

    std::vector<std::wstring> Log()
    {
        appState.logFile.reset();
        return ReadLogMessages(logs / L"TessarvaneUpdater.log");
    }

    TempFolder logs;
};

}  // namespace

// The restart question comes once the transaction has committed. Windows may end the process
// as soon as a restart is asked for, before the window closes: so on Yes the result file,
// saying so, and the verbose logs are in the log folder before Windows is asked.
TEST_F(TheRun, AsksWhetherToRestartOnceTheTransactionIsOverAndRestartsOnlyOnYesAfterItsReports)
{
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        SetUp();
        DeleteFileW(ResultFile().c_str());
        fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
        std::string resultAtRestart;
        bool verboseLogAtRestart = false;
        fake.onRestart = [&] {
            resultAtRestart = Result();
            verboseLogAtRestart = FileExists(logs / (L"a.msp {A}.log"));
        };
        Watcher watcher(yes, ResultFile());
        {
            UpdateRun run;
            RunEnd end = run.Run(watcher.progress);
            EXPECT_TRUE(end.succeeded);
            EXPECT_EQ(end.exitCode, 0) << "an interactive window's";
            run.Finish(end.exitCode);
        }
        EXPECT_EQ(watcher.questions, 1);
        EXPECT_FALSE(watcher.resultFileAtQuestion) << "the reports follow the answer";
        auto commit = std::find(fake.calls.begin(), fake.calls.end(), L"MsiEndTransaction(1)");
        auto question = std::find(fake.calls.begin(), fake.calls.end(), L"ConfirmRestart");
        ASSERT_NE(commit, fake.calls.end());
        EXPECT_GT(question, commit) << "asked once the transaction is over";
        if (yes) {
            EXPECT_EQ(std::vector<std::wstring>(question + 1, fake.calls.end()),
                      (std::vector<std::wstring>{
                          L"OpenProcessToken(current, 0x00000028)", L"LookupPrivilegeValueW(null, SeShutdownPrivilege)",
                          L"AdjustTokenPrivileges(token, 0, 1 x luid 19:0 attributes 2, 0, null, null)",
                          L"ExitWindowsEx(2, 0x80040001)"}));
            EXPECT_NE(resultAtRestart.find("\"restartRequested\": true"), std::string::npos) << resultAtRestart;
            EXPECT_NE(resultAtRestart.find("\"restartRequired\": true"), std::string::npos);
            EXPECT_NE(resultAtRestart.find("\"exitCode\": 0"), std::string::npos) << "an interactive window's";
            EXPECT_TRUE(verboseLogAtRestart);
        } else {
            EXPECT_TRUE(CallsStartingWith(L"ExitWindowsEx").empty());
            EXPECT_NE(Result().find("\"restartRequested\": false"), std::string::npos);
        }
        std::vector<std::wstring> log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
                  (std::vector<std::wstring>{L"All updates applied successfully and MSI transaction committed.",
                                             L"One or more of the updates installed require a reboot."}));
    }
}

// Nobody sees an unattended run: it is never asked and never restarts Windows; its exit code
// tells of the restart. A commit answering 3010 needs one as a patch answering 3010 does
// ("REBOOT property": inside a transaction Windows never restarts by itself).
TEST_F(TheRun, UnattendedNeverAsksToRestartAndEndsWith3010)
{
    for (bool byCommit : {false, true}) {
        SetUp();
        appState.runMode = RunMode::Unattended;
        if (byCommit)
            fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED;
        else
            fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
        Watcher watcher(true, ResultFile());
        UpdateRun run;
        RunEnd end = run.Run(watcher.progress);
        EXPECT_TRUE(end.succeeded);
        EXPECT_EQ(end.exitCode, 3010);
        EXPECT_EQ(watcher.questions, 0);
        EXPECT_TRUE(CallsStartingWith(L"ExitWindowsEx").empty());
        EXPECT_EQ(run.Finish(end.exitCode), 3010);
    }
}

TEST_F(TheRun, MakesItsWorkingFolderBeforeTheUpdateAndRemovesItOnlyWhenFinished)
{
    std::wstring folderDuringTheUpdate;
    fake.onExtract = [&](const std::wstring& folder) { folderDuringTheUpdate = folder; };
    UpdateRun run;
    RunEnd end = run.Run(UpdateProgress());
    EXPECT_TRUE(end.succeeded);
    std::wstring folder = run.WorkingFolder();
    EXPECT_EQ(folder, folderDuringTheUpdate);
    EXPECT_EQ(folder.rfind(WorkingFolderParent(), 0), 0u) << "a new folder in the Windows folder's Temp";
    EXPECT_EQ(folder.size(), WorkingFolderParent().size() + 36) << "named by a GUID";
    ASSERT_TRUE(WriteAllBytes(folder + L"\\a.msp", {1, 2, 3}));
    EXPECT_TRUE(DirectoryExists(folder.c_str())) << "the files stay until the run is finished";
    EXPECT_EQ(run.Finish(0), 0);
    EXPECT_FALSE(DirectoryExists(folder.c_str()));
}

TEST_F(TheRun, AWorkingFolderThatCannotBeNamedFailsTheRunLogsWhyAndEmptiesNothing)
{
    // Without a GUID there is no working folder's name; no other folder may stand in for it.
    std::wstring marker = WorkingFolderParent() + L"tv-run-marker.txt";
    ASSERT_TRUE(WriteAllBytes(marker, {'k', 'e', 'e', 'p'}));
    fake.guidsFail = true;
    for (RunMode mode : {RunMode::Interactive, RunMode::Unattended}) {
        appState.runMode = mode;
        UpdateRun run;
        RunEnd end = run.Run(UpdateProgress());
        EXPECT_FALSE(end.succeeded);
        EXPECT_EQ(end.exitCode, mode == RunMode::Unattended ? 1 : 0);
        EXPECT_EQ(run.Finish(end.exitCode), end.exitCode);
        EXPECT_TRUE(FileExists(marker));
        EXPECT_TRUE(DirectoryExists(WorkingFolderParent().c_str()));
    }
    EXPECT_TRUE(fake.calls.empty()) << "no update without a folder of its own";
    DeleteFileW(marker.c_str());
    std::wstring line = L"No working folder could be named under the Windows folder's Temp folder.";
    EXPECT_EQ(Log(), (std::vector<std::wstring>{line, line}));
}

// Elevation refused or bypassed (UAC off, RunAsInvoker): the run fails before anything is
// made, says why in the log, and an unattended run ends with ERROR_ACCESS_DENIED.
TEST_F(TheRun, ARunThatIsNotElevatedFailsBeforeAnyFolderExists)
{
    std::wstring parent = WorkingFolderParent();
    std::vector<std::wstring> before = ListFolder(parent.substr(0, parent.size() - 1), Entries::Folders);
    fake.notElevated = true;
    for (RunMode mode : {RunMode::Interactive, RunMode::Unattended}) {
        appState.runMode = mode;
        UpdateRun run;
        RunEnd end = run.Run(UpdateProgress());
        EXPECT_FALSE(end.succeeded);
        EXPECT_EQ(end.exitCode, mode == RunMode::Unattended ? static_cast<int>(ERROR_ACCESS_DENIED) : 0);
        run.Finish(end.exitCode);
        EXPECT_EQ(Result().find("\"step\": \"elevation\"") != std::string::npos, true);
    }
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(ListFolder(parent.substr(0, parent.size() - 1), Entries::Folders), before) << "no working folder";
    std::wstring line = L"The updater must run elevated, as an administrator or as SYSTEM.";
    EXPECT_EQ(Log(), (std::vector<std::wstring>{line, line}));
}

TEST_F(TheRun, AWorkerThatCouldNotStartIsLoggedAndEndsTheRunAsAFailure)
{
    for (RunMode mode : {RunMode::Interactive, RunMode::Unattended}) {
        appState.runMode = mode;
        UpdateRun run;
        RunStarter starter = run.Starter();
        RunEnd end = starter.notStarted(starter.run, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_FALSE(end.succeeded);
        EXPECT_EQ(end.exitCode, mode == RunMode::Unattended ? 1 : 0);
        run.Finish(end.exitCode);
        std::string result = Result();
        EXPECT_NE(result.find("\"step\": \"worker\""), std::string::npos) << result;
        EXPECT_NE(result.find("\"errorCode\": 8"), std::string::npos);
    }
    EXPECT_EQ(Log(),
              (std::vector<std::wstring>{L"Updater thread creation failed.", L"Updater thread creation failed."}));
}

// The reports are the run's last act on its own thread; finishing the run at the end of the
// process does not write them again.
TEST_F(TheRun, WritesItsReportsAtItsEndAndFinishingItWritesNothingMore)
{
    appState.runMode = RunMode::Unattended;
    UpdateRun run;
    RunEnd end = run.Run(UpdateProgress());
    ASSERT_TRUE(FileExists(ResultFile()));
    std::string atEnd = Result();
    EXPECT_NE(atEnd.find("\"outcome\": \"succeeded\""), std::string::npos) << atEnd;
    Sleep(20);
    run.Finish(end.exitCode);
    EXPECT_EQ(Result(), atEnd);

    // A run that never began is reported when it is finished: a window closed before OK.
    SetUp();
    UpdateRun cancelled;
    EXPECT_EQ(cancelled.Finish(0), 0);
    EXPECT_NE(Result().find("\"outcome\": \"cancelled\""), std::string::npos);
}
