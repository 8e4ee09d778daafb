// Start-up of the real updater, driven from outside: the usage box for rejected command
// lines, the empty-updater box for an updater that carries nothing (signed or not), and
// the silent exit for a payload header that cannot be read.
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
    L"       -l: enable logging\n";
const wchar_t* const EmptyText =
    L"Error: either the updater is empty, or the contained update data are inaccessible.";
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

}  // namespace

TEST(Startup, RejectedCommandLinesShowTheUsageBoxAndExitOne)
{
    ASSERT_FALSE(UpdaterPath().empty()) << "pass the updater's path";
    TempFolder folder;
    const std::vector<std::vector<std::wstring>> lines = {
        {L"-a", L"-a"}, {L"/a"}, {L"-x", L"a", L"b"}, {L"-l", folder / L"logs", L"-a", L"-a"}};
    for (const auto& arguments : lines) {
        BoxRun run = RunExpectingBox(UpdaterPath(), arguments);
        ASSERT_TRUE(run.boxShown);
        EXPECT_EQ(run.text, UsageText);
        EXPECT_EQ(run.buttons, std::vector<int>{IDOK});
        EXPECT_EQ(run.exitCode, 1u);
    }
    EXPECT_FALSE(FileExists(folder / L"logs")) << "a rejected line creates no log folder";
}

TEST(Startup, AnUpdaterCarryingNothingShowsTheEmptyBoxInEveryMode)
{
    TempFolder folder;
    std::wstring updater = CopyUpdater(folder, {});
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{{}, {L"-a"}, {L"-x", folder / L"out"}}) {
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
