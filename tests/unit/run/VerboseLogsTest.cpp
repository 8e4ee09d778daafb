// The verbose Windows Installer logs: written in the working folder under names no file there
// has, then copied into the log folder through the checked open; a link planted under a
// verbose log's name in the log folder is not written through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppState.h"
#include "Log.h"
#include "TestFiles.h"
#include "VerboseLogs.h"

namespace {

class VerboseLogs : public testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        ForgetVerboseLogs();
        CreateDirectoryW((root / L"work").c_str(), nullptr);
        CreateDirectoryW((root / L"logs").c_str(), nullptr);
        appState.logFolder = root / L"logs\\";
        OpenLogFile();
    }
    void TearDown() override
    {
        ForgetVerboseLogs();
        ResetAppState();
    }

    std::vector<std::wstring> Logged()
    {
        CloseHandle(appState.logFile);
        appState.logFile = INVALID_HANDLE_VALUE;
        return ReadLogMessages(root / L"logs\\TessarvaneUpdater.log");
    }

    TempFolder root;
};

}  // namespace

TEST_F(VerboseLogs, AreWrittenInTheWorkingFolderUnderNamesNoFileThereHas)
{
    std::wstring work = root / L"work";
    // A carried patch may have any name, this one included.
    ASSERT_TRUE(WriteAllBytes(work + L"\\TessarvaneUpdater-verbose-1.log", {'m', 's', 'p'}));
    std::wstring first = VerboseLogInWorkingFolder(work.c_str(), appState.logFolder + L"a.msp {A}.log");
    std::wstring second = VerboseLogInWorkingFolder(work.c_str(), appState.logFolder + L"b.msp {A}.log");
    EXPECT_EQ(first, work + L"\\TessarvaneUpdater-verbose-2.log");
    EXPECT_EQ(second, work + L"\\TessarvaneUpdater-verbose-3.log");
    ASSERT_EQ(RecordedVerboseLogs().size(), 2u);
    EXPECT_EQ(RecordedVerboseLogs()[0].name, L"a.msp {A}.log");
    EXPECT_EQ(RecordedVerboseLogs()[1].workingPath, second);
}

TEST_F(VerboseLogs, AreCopiedIntoTheLogFolderUnlessTheirPlaceIsALink)
{
    std::wstring work = root / L"work";
    std::wstring victim = root / L"victim.txt";
    const Bytes kept = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(WriteAllBytes(victim, kept));
    ASSERT_TRUE(CreateHardLinkW((root / L"logs\\b.msp {A}.log").c_str(), victim.c_str(), nullptr));
    // An old log of the same name is replaced.
    ASSERT_TRUE(WriteAllBytes(root / L"logs\\a.msp {A}.log", Bytes(5000, 'o')));

    const Bytes content(70000, 'v');
    ASSERT_TRUE(WriteAllBytes(VerboseLogInWorkingFolder(work.c_str(), appState.logFolder + L"a.msp {A}.log"), content));
    ASSERT_TRUE(WriteAllBytes(VerboseLogInWorkingFolder(work.c_str(), appState.logFolder + L"b.msp {A}.log"), content));
    VerboseLogInWorkingFolder(work.c_str(), appState.logFolder + L"c.msp {A}.log");  // never written
    CopyVerboseLogsToLogFolder();

    Bytes copied;
    ASSERT_TRUE(ReadAllBytes(root / L"logs\\a.msp {A}.log", copied));
    EXPECT_TRUE(copied == content);
    Bytes after;
    ASSERT_TRUE(ReadAllBytes(victim, after));
    EXPECT_EQ(after, kept) << "written through a planted link";
    EXPECT_FALSE(FileExists(root / L"logs\\c.msp {A}.log"));
    EXPECT_TRUE(RecordedVerboseLogs().empty());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{
                            L"The verbose log 'b.msp {A}.log' was not copied: its place in the log folder is a "
                            L"link or cannot be written.",
                            L"The verbose log 'c.msp {A}.log' was not written.",
                        }));
}
