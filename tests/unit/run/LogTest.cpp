// The log: line shape, UTF-16LE without a byte-order mark, text written as given, a fresh
// file per run, links under the log's name or on its path refused, and the preparation of the
// -l folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "AppState.h"
#include "Log.h"
#include "LogFolder.h"
#include "LogFolderFile.h"
#include "TestFiles.h"

namespace {

void OpenLogIn(const std::wstring& folder)
{
    ResetAppState();
    appState.logFolder = folder + L"\\";
    OpenLogFile();
}

// Logging stayed off, and what a link under the log's name leads to was neither emptied nor
// written.
void ExpectLoggingOffAndUnchanged(const std::wstring& victim, const Bytes& content)
{
    EXPECT_FALSE(appState.logFile);
    LogMessage(L"must go nowhere");
    ResetAppState();
    Bytes after;
    ASSERT_TRUE(ReadAllBytes(victim, after));
    EXPECT_EQ(after, content);
}

}  // namespace

TEST(LogTimeStamp, IsZeroPaddedTwentyFourHourTime)
{
    wchar_t stamp[20];
    SYSTEMTIME midnight{};
    FormatLogTimeStamp(midnight, stamp);
    EXPECT_STREQ(stamp, L"00:00:00.000");
    SYSTEMTIME afternoon{};
    afternoon.wHour = 13;
    afternoon.wMinute = 2;
    afternoon.wSecond = 3;
    afternoon.wMilliseconds = 4;
    FormatLogTimeStamp(afternoon, stamp);
    EXPECT_STREQ(stamp, L"13:02:03.004");
}

TEST(Log, WritesStampedLinesInUtf16WithoutByteOrderMark)
{
    TempFolder folder;
    OpenLogIn(folder.path());
    ASSERT_TRUE(appState.logFile);
    std::wstring longText(2000, L'z');
    LogMessage(L"Extracting update files.");
    LogMessage(L"");
    LogMessage(L"100% done, %s stays");
    LogMessage(longText.c_str());
    ResetAppState();

    Bytes bytes;
    ASSERT_TRUE(ReadAllBytes(folder / L"TessarvaneUpdater.log", bytes));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_TRUE(bytes[0] >= '0' && bytes[0] <= '2' && bytes[1] == 0) << "the file starts with the time stamp";
    std::vector<std::wstring> messages = ReadLogMessages(folder / L"TessarvaneUpdater.log");
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], L"Extracting update files.");
    EXPECT_EQ(messages[1], L"");
    EXPECT_EQ(messages[2], L"100% done, %s stays");
    EXPECT_EQ(messages[3], longText);
}

TEST(Log, EmbeddedLineBreaksAreWrittenUnchanged)
{
    TempFolder folder;
    OpenLogIn(folder.path());
    LogMessage(L"first\r\nsecond");
    ResetAppState();
    Bytes bytes;
    ASSERT_TRUE(ReadAllBytes(folder / L"TessarvaneUpdater.log", bytes));
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(&text[0], bytes.data(), bytes.size());
    EXPECT_EQ(text.substr(12), L"  first\r\nsecond\r\n");
}

TEST(Log, EachRunStartsAFreshFileAndASecondWriterIsRefused)
{
    TempFolder folder;
    OpenLogIn(folder.path());
    LogMessage(L"first run");
    ResetAppState();

    OpenLogIn(folder.path());
    HANDLE firstRun = appState.logFile.release();
    ASSERT_NE(firstRun, INVALID_HANDLE_VALUE);
    appState.logFolder = folder.path() + L"\\";
    OpenLogFile();  // another instance logging into the same folder at the same time
    EXPECT_FALSE(appState.logFile);
    LogMessage(L"goes nowhere");
    appState.logFile.reset(firstRun);
    LogMessage(L"second run");
    ResetAppState();

    std::vector<std::wstring> messages = ReadLogMessages(folder / L"TessarvaneUpdater.log");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], L"second run");
}

TEST(LogFolder, CreatesMissingLevelsShallowestFirst)
{
    TempFolder folder;
    ResetAppState();
    appState.logFolder = folder / L"a\\b\\c";
    PrepareLogFolder();
    EXPECT_EQ(appState.logFolder, folder / L"a\\b\\c\\");
    EXPECT_TRUE(FileExists(folder / L"a\\b\\c"));
    OpenLogFile();
    EXPECT_TRUE(appState.logFile);
    ResetAppState();
    EXPECT_TRUE(FileExists(folder / L"a\\b\\c\\TessarvaneUpdater.log"));
}

TEST(LogFolder, ExistingFolderWithBackslashIsLeftAsItIs)
{
    TempFolder folder;
    ResetAppState();
    appState.logFolder = folder.path() + L"\\";
    PrepareLogFolder();
    EXPECT_EQ(appState.logFolder, folder.path() + L"\\");
    ResetAppState();
}

TEST(LogFolder, RelativeNamesNeedAnExistingParentLevel)
{
    TempFolder folder;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));

    ResetAppState();
    appState.logFolder = L".\\logs";
    PrepareLogFolder();
    EXPECT_TRUE(FileExists(folder / L"logs"));

    appState.logFolder = L"plain";
    PrepareLogFolder();  // no backslash, no existing level: nothing is created
    EXPECT_FALSE(FileExists(folder / L"plain"));
    OpenLogFile();
    EXPECT_FALSE(appState.logFile);

    appState.logFolder = L"fwd/slashes";
    PrepareLogFolder();
    EXPECT_FALSE(FileExists(folder / L"fwd"));

    SetCurrentDirectoryW(previous);
    ResetAppState();
}

TEST(LogFolder, AFileInThePathMakesLoggingStayOff)
{
    TempFolder folder;
    ASSERT_TRUE(WriteAllBytes(folder / L"file", Bytes{1}));
    ResetAppState();
    appState.logFolder = folder / L"file\\sub";
    PrepareLogFolder();
    OpenLogFile();
    EXPECT_FALSE(appState.logFile);
    ResetAppState();
}

TEST(LogLinks, OnlyAPlainFileWithOneNameIsTakenAsTheLog)
{
    struct Case {
        const wchar_t* what;
        DWORD attributes;
        DWORD links;
        bool plain;
    };
    const Case cases[] = {
        {L"new or ordinary file", FILE_ATTRIBUTE_ARCHIVE, 1, true},
        {L"hidden, read-write", FILE_ATTRIBUTE_HIDDEN, 1, true},
        {L"second hard link", FILE_ATTRIBUTE_ARCHIVE, 2, false},
        {L"many hard links", FILE_ATTRIBUTE_NORMAL, 7, false},
        {L"symbolic link or junction", FILE_ATTRIBUTE_REPARSE_POINT, 1, false},
        {L"reparse point with links", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE, 2, false},
        {L"folder", FILE_ATTRIBUTE_DIRECTORY, 1, false},
        {L"no name at all", FILE_ATTRIBUTE_NORMAL, 0, false},
    };
    for (const Case& c : cases) {
        BY_HANDLE_FILE_INFORMATION information = {};
        information.dwFileAttributes = c.attributes;
        information.nNumberOfLinks = c.links;
        EXPECT_EQ(IsPlainLogFile(information), c.plain) << c.what;
    }
}

// A hard link placed under the log's name must not let the updater empty or write the file
// it shares its data with; logging is off instead.
TEST(LogLinks, AHardLinkUnderTheLogsNameIsNeitherEmptiedNorWritten)
{
    TempFolder folder;
    std::wstring victim = folder / L"victim.txt";
    const Bytes content = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(WriteAllBytes(victim, content));
    CreateDirectoryW((folder / L"logs").c_str(), nullptr);
    ASSERT_TRUE(CreateHardLinkW((folder / L"logs\\TessarvaneUpdater.log").c_str(), victim.c_str(), nullptr));

    OpenLogIn(folder / L"logs");
    ExpectLoggingOffAndUnchanged(victim, content);
}

// A symbolic link under the log's name is neither followed nor emptied. Wine 8 cannot make one
// (CreateSymbolicLinkW fails), so the fixture makes it as a Unix symbolic link, which Windows
// programs on Wine follow as Windows follows a symbolic link.
TEST(LogLinks, ASymbolicLinkUnderTheLogsNameIsNotFollowed)
{
    ASSERT_GE(testArguments.size(), 1u) << "pass the folder that make-file-link.sh made";
    std::wstring fixture = testArguments[0];
    std::replace(fixture.begin(), fixture.end(), L'/', L'\\');
    const Bytes content = {'k', 'e', 'e', 'p'};
    Bytes through;
    ASSERT_TRUE(ReadAllBytes(fixture + L"\\logs\\TessarvaneUpdater.log", through));
    ASSERT_EQ(through, content) << "the name leads to the victim";

    OpenLogIn(fixture + L"\\logs");
    ExpectLoggingOffAndUnchanged(fixture + L"\\victim.txt", content);
}

// What Wine cannot make (junctions, mount points, other volumes, shares, short names), as
// GetFinalPathNameByHandleW would report it against the path that was asked for.
TEST(LogLinks, TheFinalPathMustNameThePlaceAskedForInAnyOfItsSpellings)
{
    struct Case {
        const wchar_t* what;
        const wchar_t* asked;
        const wchar_t* finalPath;
        bool same;
    };
    const Case cases[] = {
        {L"plain", L"C:\\Logs\\TessarvaneUpdater.log", L"\\\\?\\C:\\Logs\\TessarvaneUpdater.log", true},
        {L"case", L"c:\\LOGS\\tessarvaneupdater.LOG", L"\\\\?\\C:\\Logs\\TessarvaneUpdater.log", true},
        {L"asked with the prefix", L"\\\\?\\C:\\Logs\\a.log", L"\\\\?\\C:\\Logs\\a.log", true},
        {L"share", L"\\\\server\\share\\logs\\a.log", L"\\\\?\\UNC\\server\\share\\logs\\a.log", true},
        {L"share asked with the prefix", L"\\\\?\\UNC\\server\\share\\a.log", L"\\\\?\\UNC\\Server\\Share\\a.log",
         true},
        {L"junction on the log folder", L"C:\\Windows\\Temp\\Contoso\\TessarvaneUpdater.log",
         L"\\\\?\\C:\\Windows\\System32\\config\\TessarvaneUpdater.log", false},
        {L"junction on a parent", L"C:\\Logs\\Contoso\\a.log", L"\\\\?\\C:\\Users\\Public\\Contoso\\a.log", false},
        {L"mount point of another volume", L"C:\\Logs\\a.log", L"\\\\?\\D:\\Logs\\a.log", false},
        {L"link to a share", L"C:\\Logs\\a.log", L"\\\\?\\UNC\\server\\share\\Logs\\a.log", false},
        {L"longer name", L"C:\\Logs\\a.log", L"\\\\?\\C:\\Logs\\a.log.txt", false},
        {L"one level deeper", L"C:\\Logs\\a.log", L"\\\\?\\C:\\Logs\\x\\a.log", false},
        {L"nothing asked", L"", L"\\\\?\\C:\\a.log", false},
        {L"no final path", L"C:\\a.log", L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FinalPathMatches(c.asked, c.finalPath), c.same) << c.what;
}

// Ordinary spellings of a real folder are never refused: another case, a relative path, the
// "\\?\" prefix, forward slashes, and short names where the file system gives them.
TEST(LogLinks, OrdinarySpellingsOfTheLogFolderAreAccepted)
{
    TempFolder folder;
    CreateDirectoryW((folder / L"Long Folder Name").c_str(), nullptr);
    std::wstring real = folder / L"Long Folder Name";
    std::vector<std::wstring> spellings = {real, L"\\\\?\\" + real};
    std::wstring upper = real;
    for (wchar_t& c : upper)
        c = towupper(c);
    spellings.push_back(upper);
    std::wstring slashes = real;
    for (size_t i = 3; i < slashes.size(); ++i) {
        if (slashes[i] == L'\\')
            slashes[i] = L'/';
    }
    spellings.push_back(slashes);
    wchar_t shortName[MAX_PATH];
    DWORD length = GetShortPathNameW(real.c_str(), shortName, MAX_PATH);
    if (length > 0 && length < MAX_PATH && real != shortName)
        spellings.push_back(shortName);

    for (const std::wstring& spelling : spellings) {
        OpenLogIn(spelling);
        EXPECT_TRUE(appState.logFile) << testing::PrintToString(spelling);
        ResetAppState();
    }

    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    OpenLogIn(L".\\Long Folder Name\\..\\Long Folder Name");
    EXPECT_TRUE(appState.logFile) << "relative";
    ResetAppState();
    SetCurrentDirectoryW(previous);
}
