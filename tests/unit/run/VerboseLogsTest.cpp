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

class VerboseLogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        CreateDirectoryW((root / L"work").c_str(), nullptr);
        CreateDirectoryW((root / L"logs").c_str(), nullptr);
        appState.logFolder = root / L"logs\\";
        OpenLogFile();
    }
    void TearDown() override { ResetAppState(); }

    std::vector<std::wstring> Logged()
    {
        appState.logFile.reset();
        return ReadLogMessages(root / L"logs\\TessarvaneUpdater.log");
    }

    TempFolder root;
    VerboseLogs logs;
};

}  // namespace

TEST_F(VerboseLogsTest, AreWrittenInTheWorkingFolderUnderNamesNoFileThereHas)
{
    std::wstring work = root / L"work";
    // A carried patch may have any name, this one included.
    ASSERT_TRUE(WriteAllBytes(work + L"\\TessarvaneUpdater-verbose-1.log", {'m', 's', 'p'}));
    std::wstring first = logs.Place(work.c_str(), VerboseLogName(L"a.msp", L"{A}"));
    std::wstring second = logs.Place(work.c_str(), VerboseLogName(L"b.msp", L"{A}"));
    EXPECT_EQ(first, work + L"\\TessarvaneUpdater-verbose-2.log");
    EXPECT_EQ(second, work + L"\\TessarvaneUpdater-verbose-3.log");
    ASSERT_EQ(logs.Recorded().size(), 2u);
    EXPECT_EQ(logs.Recorded()[0].name, L"a.msp {A}.log");
    EXPECT_EQ(logs.Recorded()[1].workingPath, second);
}

TEST_F(VerboseLogsTest, AreCopiedIntoTheLogFolderUnlessTheirPlaceIsALink)
{
    std::wstring work = root / L"work";
    std::wstring victim = root / L"victim.txt";
    const Bytes kept = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(WriteAllBytes(victim, kept));
    ASSERT_TRUE(CreateHardLinkW((root / L"logs\\b.msp {A}.log").c_str(), victim.c_str(), nullptr));
    // An old log of the same name is replaced.
    ASSERT_TRUE(WriteAllBytes(root / L"logs\\a.msp {A}.log", Bytes(5000, 'o')));

    const Bytes content(70000, 'v');
    ASSERT_TRUE(WriteAllBytes(logs.Place(work.c_str(), L"a.msp {A}.log"), content));
    ASSERT_TRUE(WriteAllBytes(logs.Place(work.c_str(), L"b.msp {A}.log"), content));
    logs.Place(work.c_str(), L"c.msp {A}.log");  // never written
    logs.CopyToLogFolder();

    Bytes copied;
    ASSERT_TRUE(ReadAllBytes(root / L"logs\\a.msp {A}.log", copied));
    EXPECT_TRUE(copied == content);
    Bytes after;
    ASSERT_TRUE(ReadAllBytes(victim, after));
    EXPECT_EQ(after, kept) << "written through a planted link";
    EXPECT_FALSE(FileExists(root / L"logs\\c.msp {A}.log"));
    EXPECT_TRUE(logs.Recorded().empty());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{
                            L"The verbose log 'b.msp {A}.log' was not copied: its place in the log folder is a "
                            L"link or cannot be written.",
                            L"The verbose log 'c.msp {A}.log' was not written.",
                        }));
}
