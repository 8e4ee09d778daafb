// Start-up of the real updater, driven from outside: the usage box for rejected command
// lines, the empty-updater box for an updater that carries nothing (signed or not), and
// the silent exit for a payload header that cannot be read; with -a anywhere on the line,
// the same failures end by themselves without any box. How a program built like the updater
// ends on a fatal failure. And a log folder reached through a link on its path: no log is
// written there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "WindowDriver.h"

namespace {

const wchar_t* const Caption = L"Tessarvane Updater";
const wchar_t* const UsageText =
    L"Usage: TessarvaneUpdater [[-x [outdir]]|[-a]] [-l [logdir]]\n"
    L"       -x: extract update files\n"
    L"       -a: no interaction mode\n"
    L"       -l: enable logging\n"
    L"       -q: check only, change nothing\n"
    L"       -w: seconds to wait for another installation\n"
    L"       -u: remove the updates\n";
const wchar_t* const EmptyText = L"Error: either the updater is empty, or the contained update data are inaccessible.";
const DWORD Timeout = 30000;

std::wstring WindowsPath(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

std::wstring UpdaterPath()
{
    return testArguments.empty() ? std::wstring() : WindowsPath(testArguments[0]);
}

// A copy of the stripped updater, with the given bytes appended behind its image.
std::wstring CopyUpdater(const TempFolder& folder, const Bytes& appended, const std::wstring& source = UpdaterPath())
{
    Bytes image;
    EXPECT_TRUE(ReadAllBytes(source, image));
    image.insert(image.end(), appended.begin(), appended.end());
    std::wstring path = folder / L"TessarvaneUpdater.exe";
    EXPECT_TRUE(WriteAllBytes(path, image));
    return path;
}

struct BoxRun {
    bool boxShown = false;
    std::wstring text;
    std::vector<int> buttons;
    DWORD exitCode = 0xFFFFFFFF;
};

// Runs the program; when a box with the caption comes up, reads it and presses OK.
BoxRun RunExpectingBox(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    BoxRun run;
    DrivenProcess process;
    EXPECT_TRUE(process.Start(program, arguments));
    HWND box = process.WaitForWindow(Caption, Timeout);
    if (box != nullptr) {
        run.boxShown = true;
        run.text = MessageBoxText(box);
        run.buttons = ButtonIds(box);
        PressButton(box, IDOK);
    }
    EXPECT_TRUE(process.WaitForExit(Timeout, run.exitCode)) << "the updater did not end";
    return run;
}

struct QuietRun {
    bool ended = false;
    bool windowShown = false;
    DWORD exitCode = 0xFFFFFFFF;
};

// Runs the program, watching for any window of it, until it ends by itself (a box would keep
// it waiting until the time-out).
QuietRun RunExpectingNoWindow(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    QuietRun run;
    DrivenProcess process;
    EXPECT_TRUE(process.Start(program, arguments));
    for (DWORD waited = 0; waited < Timeout; waited += 50) {
        if (process.WaitForWindow(L"", 0) != nullptr)
            run.windowShown = true;
        if (process.WaitForExit(50, run.exitCode)) {
            run.ended = true;
            break;
        }
    }
    return run;
}

std::vector<std::wstring> Messages(const std::wstring& log)
{
    return FileExists(log) ? ReadLogMessages(log) : std::vector<std::wstring>();
}

const wchar_t* const RejectedLine =
    L"The command line was rejected. Usage: TessarvaneUpdater [[-x [outdir]]|[-a]] [-l [logdir]]";

}  // namespace

TEST(Startup, RejectedCommandLinesShowTheUsageBoxAndExitOne)
{
    ASSERT_FALSE(UpdaterPath().empty()) << "pass the updater's path";
    TempFolder folder;
    const std::vector<std::vector<std::wstring>> lines = {
        {L"-A"}, {L"/a"}, {L"-x", L"a", L"b"}, {L"-l", folder / L"logs", L"-x", L"a", L"-x", L"b"}};
    for (const auto& arguments : lines) {
        BoxRun run = RunExpectingBox(UpdaterPath(), arguments);
        ASSERT_TRUE(run.boxShown);
        EXPECT_EQ(run.text, UsageText);
        EXPECT_EQ(run.buttons, std::vector<int>{IDOK});
        EXPECT_EQ(run.exitCode, 1u);
    }
    EXPECT_FALSE(FileExists(folder / L"logs")) << "a rejected line creates no log folder";
}

TEST(Startup, AnUpdaterCarryingNothingShowsTheEmptyBoxWithoutMinusA)
{
    TempFolder folder;
    std::wstring updater = CopyUpdater(folder, {});
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{{}, {L"-x", folder / L"out"}}) {
        BoxRun run = RunExpectingBox(updater, arguments);
        ASSERT_TRUE(run.boxShown);
        EXPECT_EQ(run.text, EmptyText);
        EXPECT_EQ(run.buttons, std::vector<int>{IDOK});
        EXPECT_EQ(run.exitCode, 1u);
    }
    EXPECT_FALSE(FileExists(folder / L"out"));
}

TEST(Startup, ASignedUpdaterCarryingNothingIsEmptyToo)
{
    ASSERT_GE(testArguments.size(), 2u) << "pass the signed updater's path";
    TempFolder folder;
    std::wstring updater = CopyUpdater(folder, {}, WindowsPath(testArguments[1]));
    BoxRun run = RunExpectingBox(updater, {L"-l", folder / L"logs"});
    ASSERT_TRUE(run.boxShown);
    EXPECT_EQ(run.text, EmptyText);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(ReadLogMessages(folder / L"logs\\TessarvaneUpdater.log").empty());
    KeepResultFile(folder / L"logs");
}

TEST(Startup, AnUnreadableHeaderEndsWithOneAndALogLineButNoBox)
{
    TempFolder folder;
    std::wstring updater = CopyUpdater(folder, {10, 'a', 0});
    DrivenProcess process;
    ASSERT_TRUE(process.Start(updater, {L"-a", L"-l", folder / L"logs\\deeper"}));
    DWORD exitCode = 0;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 1u);
    EXPECT_EQ(ReadLogMessages(folder / L"logs\\deeper\\TessarvaneUpdater.log"),
              std::vector<std::wstring>{L"Failed to read product name."});
    KeepResultFile(folder / L"logs\\deeper", L"name");

    std::wstring cutAfterName = CopyUpdater(folder, {2, 'a', 0});
    DrivenProcess second;
    ASSERT_TRUE(second.Start(cutAfterName, {L"-x", folder / L"out", L"-l", folder / L"logs"}));
    ASSERT_TRUE(second.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 1u);
    EXPECT_EQ(ReadLogMessages(folder / L"logs\\TessarvaneUpdater.log"),
              std::vector<std::wstring>{L"Failed to read product version."});
    KeepResultFile(folder / L"logs", L"version");
}

// msiexec's ERROR_INVALID_COMMAND_LINE, with a log line wherever a log folder can be read
// from the line, even from behind the option that made it invalid.
TEST(Unattended, RejectedCommandLinesEndWith1639WithoutAnyBox)
{
    TempFolder folder;
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring log;    // empty: no log expected
        std::wstring label;  // of the kept result file
    };
    const Case cases[] = {
        {{L"-a", L"-a"}, L"", L""},
        {{L"/a", L"-a"}, L"", L""},
        {{L"-x", folder / L"out", L"-a"}, L"", L""},
        {{L"-a", L"-x", folder / L"out", L"-l", folder / L"one"}, folder / L"one", L"one"},
        {{L"-l", folder / L"two\\deeper", L"-a", L"-a"}, folder / L"two\\deeper", L"two"},
        {{L"-a", L"-A", L"-l", folder / L"three"}, folder / L"three", L"three"},
    };
    for (const Case& c : cases) {
        QuietRun run = RunExpectingNoWindow(UpdaterPath(), c.arguments);
        std::wstring line = c.arguments[0] + L" " + c.arguments[1];
        ASSERT_TRUE(run.ended) << "still waiting: " << testing::PrintToString(line);
        EXPECT_FALSE(run.windowShown);
        EXPECT_EQ(run.exitCode, 1639u);
        if (!c.log.empty()) {
            EXPECT_EQ(Messages(c.log + L"\\TessarvaneUpdater.log"), std::vector<std::wstring>{RejectedLine});
            KeepResultFile(c.log, c.label);
        }
    }
    EXPECT_FALSE(FileExists(folder / L"out"));
}

TEST(Unattended, AnUpdaterCarryingNothingEndsWithOneAndALogLineWithoutAnyBox)
{
    TempFolder folder;
    std::wstring updater = CopyUpdater(folder, {});
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{
             {L"-a"}, {L"-a", L"-l", folder / L"logs"}, {L"-x", folder / L"out", L"-l", folder / L"logs", L"-a"}}) {
        DeleteFileW((folder / L"logs\\TessarvaneUpdater.log").c_str());
        QuietRun run = RunExpectingNoWindow(updater, arguments);
        ASSERT_TRUE(run.ended);
        EXPECT_FALSE(run.windowShown);
        if (arguments.size() == 5) {
            EXPECT_EQ(run.exitCode, 1639u) << "-x with a value and then -a is a rejected line";
            continue;
        }
        EXPECT_EQ(run.exitCode, 1u);
        if (arguments.size() > 1) {
            EXPECT_EQ(Messages(folder / L"logs\\TessarvaneUpdater.log"), std::vector<std::wstring>{EmptyText});
        }
    }
    // -x without a value ends the line before -a, which still rules out the box.
    QuietRun extract = RunExpectingNoWindow(updater, {L"-x", L"-a"});
    ASSERT_TRUE(extract.ended);
    EXPECT_FALSE(extract.windowShown);
    EXPECT_EQ(extract.exitCode, 1u);
}

// Memory exhausted (an allocation, or a string asked to grow past its maximum) ends with 8,
// a delay-loaded system function that cannot be bound with 127; each after a log line, never
// with a box.
TEST(FatalExit, EndsWithItsCodeAndALogLineWithoutAnyBox)
{
    ASSERT_GE(testArguments.size(), 3u) << "pass the fatal-failure probe's path";
    std::wstring probe = WindowsPath(testArguments[2]);
    struct Case {
        const wchar_t* what;
        DWORD exitCode;
        const wchar_t* line;
    };
    const Case cases[] = {
        {L"new", 8, L"Out of memory."},
        {L"string", 8, L"Out of memory."},
        {L"bind", 127, L"The system function NoSuchFunctionInUser32 of user32.dll could not be bound."},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        QuietRun run = RunExpectingNoWindow(probe, {folder.path(), c.what});
        ASSERT_TRUE(run.ended) << c.what;
        EXPECT_FALSE(run.windowShown) << c.what;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(Messages(folder / L"TessarvaneUpdater.log"), std::vector<std::wstring>{c.line}) << c.what;
    }
}

// A link on the log folder or on a folder above it (made as Unix symbolic links, which Wine
// treats as links on the way; see make-links.sh): no log is written through it, what the
// link leads to stays as it was, and the run goes on without a log.
TEST(LogLinks, ALinkOnTheLogFolderOrAParentLeavesItsTargetUntouched)
{
    ASSERT_GE(testArguments.size(), 4u) << "pass the linked folders' fixture";
    std::wstring links = WindowsPath(testArguments[3]);
    struct Case {
        const wchar_t* logFolder;
        const wchar_t* target;
        std::vector<std::wstring> targetFiles;
    };
    const Case cases[] = {
        {L"linked", L"target", {L"TessarvaneUpdater.log"}},
        {L"parent\\logs", L"elsewhere\\logs", {L"TessarvaneUpdater.log"}},
        {L"linked-empty", L"empty-target", {}},
    };
    for (const Case& c : cases) {
        QuietRun run = RunExpectingNoWindow(UpdaterPath(), {L"-a", L"-a", L"-l", links + L"\\" + c.logFolder});
        ASSERT_TRUE(run.ended) << c.logFolder;
        EXPECT_EQ(run.exitCode, 1639u) << "the run goes on without a log";
        std::wstring target = links + L"\\" + c.target;
        EXPECT_EQ(ListFolder(target), c.targetFiles) << "a log created through the link stays: " << c.logFolder;
        if (!c.targetFiles.empty()) {
            Bytes content;
            ASSERT_TRUE(ReadAllBytes(target + L"\\TessarvaneUpdater.log", content));
            EXPECT_EQ(content, (Bytes{'k', 'e', 'e', 'p'})) << "written through the link: " << c.logFolder;
        }
    }

    // The same run logs into an ordinary folder.
    QuietRun plain = RunExpectingNoWindow(UpdaterPath(), {L"-a", L"-a", L"-l", links + L"\\plain"});
    ASSERT_TRUE(plain.ended);
    EXPECT_EQ(Messages(links + L"\\plain\\TessarvaneUpdater.log"), std::vector<std::wstring>{RejectedLine});
}
