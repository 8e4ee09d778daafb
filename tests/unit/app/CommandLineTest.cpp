// The command-line table: which lines are accepted, the run mode and folders they give, and
// the rule that an option without a value takes the executable's folder and ends parsing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppState.h"
#include "CommandLine.h"
#include "ModuleFileNameSeam.h"
#include "TestFiles.h"

namespace {

const wchar_t* const Exe = L"<exe>";  // stands for the executable's folder in the table

struct Case {
    std::vector<std::wstring> arguments;
    RunMode mode;
    std::wstring extractFolder;
    std::wstring logFolder;
};

void Parse(const std::vector<std::wstring>& arguments)
{
    ResetAppState();
    std::vector<std::wstring> storage{L"TessarvaneUpdater.exe"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : storage)
        argv.push_back(&argument[0]);
    ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::wstring Expand(const std::wstring& folder)
{
    if (folder != Exe)
        return folder;
    std::wstring executableFolder;
    EXPECT_TRUE(GetExecutableFolder(executableFolder));
    return executableFolder;
}

std::string Describe(const std::vector<std::wstring>& arguments)
{
    std::string text;
    for (const std::wstring& argument : arguments)
        text += "[" + std::string(argument.begin(), argument.end()) + "] ";
    return text;
}

}  // namespace

TEST(CommandLine, AcceptedLinesGiveTheirModeAndFolders)
{
    const std::vector<Case> cases = {
        {{}, RunMode::Interactive, L"", L""},
        {{L"-a"}, RunMode::Unattended, L"", L""},
        {{L"-x"}, RunMode::Extract, Exe, L""},
        {{L"-x", L"out"}, RunMode::Extract, L"out", L""},
        {{L"-x", L"C:\\out\\"}, RunMode::Extract, L"C:\\out\\", L""},
        {{L"-l"}, RunMode::Interactive, L"", Exe},
        {{L"-l", L"C:\\logs", L"-a"}, RunMode::Unattended, L"", L"C:\\logs"},
        {{L"-a", L"-l", L"C:\\logs"}, RunMode::Unattended, L"", L"C:\\logs"},
        {{L"-x", L"out", L"-l", L"C:\\logs"}, RunMode::Extract, L"out", L"C:\\logs"},
        {{L"-l", L"C:\\logs", L"-x", L"out"}, RunMode::Extract, L"out", L"C:\\logs"},
        // An option without a value ends parsing: what follows is never examined.
        {{L"-x", L"-l", L"C:\\logs"}, RunMode::Extract, Exe, L""},
        {{L"-l", L"-x"}, RunMode::Interactive, L"", Exe},
        {{L"-x", L"-a"}, RunMode::Extract, Exe, L""},
        {{L"-x", L"-x"}, RunMode::Extract, Exe, L""},
        {{L"-l", L"-l"}, RunMode::Interactive, L"", Exe},
        {{L"-l", L"-a"}, RunMode::Interactive, L"", Exe},
        {{L"-x", L"-out"}, RunMode::Extract, Exe, L""},
        {{L"-a", L"-x"}, RunMode::Invalid, L"", L""},
        // An empty argument is a value: logging stays off, and a later -l is accepted.
        {{L"-l", L""}, RunMode::Interactive, L"", L""},
        {{L"-l", L"", L"-l", L"dir"}, RunMode::Interactive, L"", L"dir"},
        {{L"-x", L""}, RunMode::Extract, L"", L""},
    };
    for (const Case& c : cases) {
        Parse(c.arguments);
        SCOPED_TRACE(Describe(c.arguments));
        EXPECT_EQ(appState.runMode, c.mode);
        if (c.mode == RunMode::Invalid)
            continue;
        EXPECT_EQ(appState.extractFolder, Expand(c.extractFolder));
        EXPECT_EQ(appState.logFolder, Expand(c.logFolder));
    }
    ResetAppState();
}

TEST(CommandLine, RejectsRepeatedExclusiveAndUnknownOptions)
{
    const std::vector<std::vector<std::wstring>> rejected = {
        {L"-a", L"-a"},
        {L"-x", L"a", L"-x", L"b"},
        {L"-a", L"-x"},
        {L"-x", L"out", L"-a"},
        {L"-l", L"a", L"-l", L"b"},
        {L"-x", L"a", L"b"},
        {L"/a"},
        {L"-A"},
        {L"--a"},
        {L"-X"},
        {L"-L"},
        {L"out"},
        {L"-a", L"extra"},
        {L"-ax"},
        {L""},
    };
    for (const auto& arguments : rejected) {
        Parse(arguments);
        EXPECT_EQ(appState.runMode, RunMode::Invalid) << Describe(arguments);
    }
    ResetAppState();
}

// The check and the wait. A check is never mistaken for an update run: "-q" anywhere on a line
// that is not a check rejects the line, even behind an option that ended parsing.
TEST(CommandLine, TheCheckAndTheWaitAndTheirRejectedLines)
{
    struct WaitCase {
        std::vector<std::wstring> arguments;
        RunMode mode;
        uint32_t seconds;
        std::wstring logFolder;
    };
    const std::vector<WaitCase> accepted = {
        {{L"-q"}, RunMode::Check, 0, L""},
        {{L"-q", L"-l", L"C:\\logs"}, RunMode::Check, 0, L"C:\\logs"},
        {{L"-l", L"C:\\logs", L"-q"}, RunMode::Check, 0, L"C:\\logs"},
        {{L"-q", L"-l"}, RunMode::Check, 0, Exe},
        {{L"-a", L"-w", L"600"}, RunMode::Unattended, 600, L""},
        {{L"-w", L"0", L"-a"}, RunMode::Unattended, 0, L""},
        {{L"-w", L"86400"}, RunMode::Interactive, 86400, L""},
        {{L"-w", L"007", L"-l", L"C:\\logs"}, RunMode::Interactive, 7, L"C:\\logs"},
        // A check changes nothing and so waits for nothing; a script may pass both runs the same
        // options.
        {{L"-q", L"-w", L"30"}, RunMode::Check, 30, L""},
    };
    for (const WaitCase& c : accepted) {
        Parse(c.arguments);
        SCOPED_TRACE(Describe(c.arguments));
        EXPECT_EQ(appState.runMode, c.mode);
        EXPECT_EQ(appState.waitSeconds, c.seconds);
        EXPECT_EQ(appState.logFolder, Expand(c.logFolder));
    }
    const std::vector<std::vector<std::wstring>> rejected = {
        {L"-q", L"-a"},
        {L"-a", L"-q"},
        {L"-q", L"-x"},
        {L"-x", L"out", L"-q"},
        {L"-x", L"-q"},
        {L"-l", L"-q"},
        {L"-q", L"-q"},
        {L"-q", L"extra"},
        {L"-w"},
        {L"-a", L"-w"},
        {L"-w", L"-a"},
        {L"-w", L"ten"},
        {L"-w", L"10s"},
        {L"-w", L""},
        {L"-w", L"86401"},
        {L"-w", L"4294967296"},
        {L"-w", L"1", L"-w", L"2"},
        {L"-w", L"5", L"-x", L"out"},
        {L"-x", L"out", L"-w", L"5"},
        {L"-W", L"5"},
    };
    for (const auto& arguments : rejected) {
        Parse(arguments);
        EXPECT_EQ(appState.runMode, RunMode::Invalid) << Describe(arguments);
    }
    ResetAppState();
}

// The removal: with or without -a, never with -x or -q, and never mistaken for an update run.
TEST(CommandLine, TheRemovalAndItsRejectedLines)
{
    struct RemovalCase {
        std::vector<std::wstring> arguments;
        RunMode mode;
    };
    const std::vector<RemovalCase> accepted = {
        {{L"-u"}, RunMode::Interactive},
        {{L"-u", L"-a"}, RunMode::Unattended},
        {{L"-a", L"-u", L"-l", L"C:\\logs"}, RunMode::Unattended},
        {{L"-l", L"C:\\logs", L"-u", L"-w", L"30"}, RunMode::Interactive},
    };
    for (const RemovalCase& c : accepted) {
        Parse(c.arguments);
        SCOPED_TRACE(Describe(c.arguments));
        EXPECT_EQ(appState.runMode, c.mode);
        EXPECT_TRUE(appState.removal);
    }
    Parse({L"-a"});
    EXPECT_FALSE(appState.removal);
    const std::vector<std::vector<std::wstring>> rejected = {
        {L"-u", L"-x"}, {L"-x", L"out", L"-u"}, {L"-u", L"-q"}, {L"-q", L"-u"},
        {L"-u", L"-u"}, {L"-l", L"-u"},         {L"-x", L"-u"}, {L"-U"},
    };
    for (const auto& arguments : rejected) {
        Parse(arguments);
        EXPECT_EQ(appState.runMode, RunMode::Invalid) << Describe(arguments);
    }
    ResetAppState();
}

// Only a line with -a or -q is refused without a box: both are run by tools where nobody can
// answer one.
TEST(CommandLine, ALineWithTheCheckOrUnattendedOptionNeverAsksForABox)
{
    struct Case {
        std::vector<std::wstring> arguments;
        bool noBoxes;
    };
    const std::vector<Case> cases = {
        {{}, false},
        {{L"-l", L"x"}, false},
        {{L"-a"}, true},
        {{L"-q"}, true},
        {{L"-q", L"-a"}, true},
        {{L"-x", L"-q"}, true},
        {{L"-w", L"x", L"-q"}, true},
    };
    for (const Case& c : cases) {
        ResetAppState();
        std::vector<std::wstring> storage{L"TessarvaneUpdater.exe"};
        storage.insert(storage.end(), c.arguments.begin(), c.arguments.end());
        std::vector<wchar_t*> argv;
        for (std::wstring& argument : storage)
            argv.push_back(&argument[0]);
        EXPECT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data()), c.noBoxes) << Describe(c.arguments);
    }
    ResetAppState();
}

TEST(CommandLine, ExecutableFolderIsThePathUpToItsLastBackslash)
{
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    std::wstring folder;
    ASSERT_TRUE(GetExecutableFolder(folder));
    std::wstring full = path;
    EXPECT_EQ(full.substr(0, full.rfind(L'\\')), folder);
    EXPECT_NE(folder.back(), L'\\');
}

TEST(CommandLine, ExecutableFolderOfAPathCutAtMaxPathCannotBeHad)
{
    // A module path of 259 characters fits; a longer one comes back cut at 260 with a
    // backslash left in its first 259, which would name an ancestor folder. Such a path counts
    // as none: an option without a value then leaves its folder empty.
    std::wstring deep = L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(100, L'b') + L"\\Updater.exe";
    std::wstring fits = L"C:\\" + std::wstring(240, L'a') + L"\\Updater.exe";
    fits.resize(259, L'e');
    struct Case {
        std::wstring modulePath;
        bool found;
        std::wstring folder;
    };
    const std::vector<Case> cases = {
        {L"C:\\Tools\\TessarvaneUpdater.exe", true, L"C:\\Tools"},
        {fits, true, fits.substr(0, fits.rfind(L'\\'))},
        {fits + L"x", false, L""},
        {deep, false, L""},
        {L"Updater.exe", false, L""},
        {L"", false, L""},
    };
    for (const Case& c : cases) {
        FakeModulePath fake(c.modulePath);
        std::wstring folder;
        EXPECT_EQ(GetExecutableFolder(folder), c.found) << c.modulePath.size();
        EXPECT_EQ(folder, c.folder) << c.modulePath.size();

        Parse({L"-l", L"-a"});
        EXPECT_EQ(appState.logFolder, c.folder) << c.modulePath.size();
        EXPECT_EQ(appState.runMode, RunMode::Interactive);
    }
    ResetAppState();
}
