// Whole updater runs against Wine's real Windows Installer. run-scenarios.sh has installed the
// sample products and packed the updaters into the work folder given as the first argument,
// and passes as the second the patch code that tessarvane-pack inspect showed for silent.msp;
// each test runs one updater, drives its window where there is one, and checks the installed
// files, the exit code and the logs.
#include <gtest/gtest.h>
#include <windows.h>

#include <msi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OtherInstallation.h"
#include "TestFiles.h"
#include "WindowDriver.h"
#include "resource.h"

namespace {

const DWORD Timeout = 120000;

std::wstring Work()
{
    return testArguments.empty() ? std::wstring() : testArguments[0];
}

std::wstring Installed(const std::wstring& product, bool x64)
{
    return std::wstring(x64 ? L"C:\\Program Files\\Tess " : L"C:\\Program Files (x86)\\Tess ") + product + L"\\app.txt";
}

// True when the installed app.txt holds the patch's new content.
bool Patched(const std::wstring& product, bool x64 = false)
{
    Bytes installed, expected;
    return ReadAllBytes(Installed(product, x64), installed) &&
           ReadAllBytes(Work() + L"\\new\\" + product + L"-app.txt", expected) && installed == expected;
}

std::wstring Code(const std::wstring& suffix)
{
    return L"{7E550000-0000-4000-8000-" + suffix + L"}";
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Holds a file open without sharing, as a running program holds its own files: Windows
// Installer cannot replace it now, schedules the replacement for the next restart and asks
// for one (3010). This, not a restart action, is how a restart need comes about inside a
// multiple-package transaction on Windows, which refuses packages with ForceReboot or
// ScheduleReboot there; Wine's Windows Installer does the same with a file in use.
class HeldOpen {
public:
    explicit HeldOpen(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~HeldOpen() { Close(); }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE file_;
};

// True when the product's app.txt is to be replaced at the next restart: the pending file
// renames name it, and a file beside it holds the patch's new content.
bool ReplacedAtRestart(const std::wstring& product)
{
    wchar_t renames[8192] = L"";
    DWORD size = sizeof(renames) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, renames, &size) != ERROR_SUCCESS)
        return false;
    std::wstring target = L"\\??\\" + Installed(product, false);
    // Pairs of names, source then target; an empty target (a deletion) ends no list here.
    bool named = false;
    const wchar_t* end = renames + size / sizeof(wchar_t);
    for (const wchar_t* entry = renames; entry < end; entry += wcslen(entry) + 1)
        named = named || _wcsicmp(entry, target.c_str()) == 0;

    Bytes expected;
    if (!named || !ReadAllBytes(Work() + L"\\new\\" + product + L"-app.txt", expected))
        return false;
    std::wstring folder = Installed(product, false);
    folder.resize(folder.rfind(L'\\'));
    for (const std::wstring& name : ListFolder(folder, Entries::Files)) {
        Bytes bytes;
        if (ReadAllBytes(folder + L"\\" + name, bytes) && bytes == expected)
            return true;
    }
    return false;
}

// Polls a control's text until it reads the expected text or the time is up.
bool WaitForControlText(HWND dialog, int id, const std::wstring& text)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < Timeout; Sleep(50)) {
        if (ControlText(dialog, id) == text)
            return true;
    }
    return false;
}

const wchar_t* const RestartCaption = L"Tessarvane Updater - Reboot Required";

DWORD RunUnattended(const std::wstring& updater, const std::wstring& logs)
{
    DrivenProcess process;
    EXPECT_TRUE(process.Start(Work() + L"\\" + updater, {L"-a", L"-l", logs}));
    // The restart question would wait for an answer that never comes in a deployment; it is
    // answered here only so that a failing test ends.
    HWND question = process.WaitForWindow(RestartCaption, Timeout);
    EXPECT_EQ(question, nullptr) << "an unattended run asked whether to restart";
    if (question != nullptr)
        PressButton(question, IDNO);
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_TRUE(process.WaitForExit(Timeout, exitCode)) << "the updater did not end";
    return exitCode;
}

// What the test was told inspect showed as silent.msp's patch code.
std::wstring InspectedPatchCode()
{
    return testArguments.size() > 1 ? testArguments[1] : std::wstring();
}

// The patch codes that Windows Installer lists as applied to a product in a context.
std::vector<std::wstring> AppliedPatches(const std::wstring& product,
                                         MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE)
{
    std::vector<std::wstring> codes;
    for (DWORD i = 0;; ++i) {
        wchar_t code[39] = L"";
        if (MsiEnumPatchesExW(product.c_str(), nullptr, context, MSIPATCHSTATE_APPLIED, i, code, nullptr, nullptr,
                              nullptr, nullptr) != ERROR_SUCCESS)
            return codes;
        codes.push_back(code);
    }
}

}  // namespace

TEST(RealInstaller, UnattendedRunPatchesEveryInstalledTargetX64First)
{
    ASSERT_FALSE(Work().empty()) << "pass the scenario work folder";
    std::vector<std::wstring> tempBefore = ListFolder(WindowsTempFolder());
    std::wstring logs = Work() + L"\\logs-main";

    EXPECT_EQ(RunUnattended(L"main.exe", logs), 0u);

    EXPECT_TRUE(Patched(L"Wide", true));
    EXPECT_TRUE(Patched(L"Alpha"));
    EXPECT_TRUE(Patched(L"Beta"));
    const std::vector<std::wstring> expected = {
        L"Extracting update files.",
        L"Determining applicable patches.",
        L"Product '{7E550000-0000-4000-8000-0000000000A3}' is not installed.",
        L"Determining update application order for product 'Tess Wide'.",
        L"Product 'Tess Wide' is installed per-machine.",
        L"Determining update application order for product 'Tess Alpha'.",
        L"Product 'Tess Alpha' is installed per-machine.",
        L"Determining update application order for product 'Tess Beta'.",
        L"Product 'Tess Beta' is installed per-machine.",
        L"Installing update 'wide.msp' for 'Tess Wide'.",
        L"MsiApplyPatch succeeded.",
        L"Installing update 'alpha.msp' for 'Tess Alpha'.",
        L"MsiApplyPatch succeeded.",
        L"Installing update 'beta.msp' for 'Tess Beta'.",
        L"MsiApplyPatch succeeded.",
        L"All updates applied successfully and MSI transaction committed.",
    };
    EXPECT_EQ(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"), expected);
    for (const auto& patch : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"wide.msp", L"0000000000C1"}, {L"alpha.msp", L"0000000000A1"}, {L"beta.msp", L"0000000000A2"}}) {
        std::wstring verbose = logs + L"\\" + patch.first + L" " + Code(patch.second) + L".log";
        Bytes bytes;
        EXPECT_TRUE(ReadAllBytes(verbose, bytes) && !bytes.empty()) << "no verbose log for " << patch.first.size();
    }
    EXPECT_FALSE(FileExists(logs + L"\\absent.msp " + Code(L"0000000000A3") + L".log"));
    KeepResultFile(logs);
    EXPECT_EQ(ListFolder(WindowsTempFolder()), tempBefore) << "the working folder was left behind";
}

// A product installed without ALLUSERS is installed per-user for the account that installed
// it; the run asks for it, its package and its patch sequence in that context.
// The same updater once more: Windows Installer has every patch registered already, so the
// run applies nothing, begins no transaction and succeeds.
TEST(RealInstaller, ASecondUnattendedRunFindsEveryPatchAlreadyApplied)
{
    std::wstring logs = Work() + L"\\logs-main-again";
    EXPECT_EQ(RunUnattended(L"main.exe", logs), 0u);
    EXPECT_TRUE(Patched(L"Wide", true));
    EXPECT_TRUE(Patched(L"Alpha"));
    std::vector<std::wstring> log = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(log, L"Update 'alpha.msp' is already installed for 'Tess Alpha'."));
    EXPECT_EQ(log.back(), L"No update needs applying; no MSI transaction was begun.");
    KeepResultFile(logs);
}

TEST(RealInstaller, UnattendedRunPatchesAPerUserAndAPerMachineProductEachInItsContext)
{
    std::wstring logs = Work() + L"\\logs-contexts";
    EXPECT_EQ(RunUnattended(L"contexts.exe", logs), 0u);
    EXPECT_TRUE(Patched(L"Personal"));
    EXPECT_TRUE(Patched(L"Company", true));
    const std::vector<std::wstring> expected = {
        L"Extracting update files.",
        L"Determining applicable patches.",
        L"Determining update application order for product 'Tess Company'.",
        L"Product 'Tess Company' is installed per-machine.",
        L"Determining update application order for product 'Tess Personal'.",
        L"Product 'Tess Personal' is installed per-user.",
        L"Installing update 'company.msp' for 'Tess Company'.",
        L"MsiApplyPatch succeeded.",
        L"Installing update 'personal.msp' for 'Tess Personal'.",
        L"MsiApplyPatch succeeded.",
        L"All updates applied successfully and MSI transaction committed.",
    };
    EXPECT_EQ(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"), expected);
    EXPECT_EQ(AppliedPatches(Code(L"0000000000B3"), MSIINSTALLCONTEXT_USERUNMANAGED).size(), 1u);
    EXPECT_TRUE(AppliedPatches(Code(L"0000000000B3"), MSIINSTALLCONTEXT_MACHINE).empty());
    EXPECT_EQ(AppliedPatches(Code(L"0000000000B4")).size(), 1u);
    KeepResultFile(logs);
}

TEST(RealInstaller, UnattendedRunPatchesTheMachinesInstallationsAndListsAnotherAccountsPerUserOne)
{
    // Shared: per-machine, and per-user for another account. Advert: per-machine, and
    // advertised per-user for this account, which Windows Installer's own search order
    // (MsiQueryProductState) would answer for first.
    std::wstring logs = Work() + L"\\logs-accounts";
    EXPECT_EQ(RunUnattended(L"accounts.exe", logs), 0u) << "what this run could patch, it patched";
    EXPECT_TRUE(Patched(L"Shared", true));
    EXPECT_TRUE(Patched(L"Advert"));
    EXPECT_EQ(AppliedPatches(Code(L"0000000000B5")).size(), 1u);
    EXPECT_EQ(AppliedPatches(Code(L"0000000000B6")).size(), 1u);
    std::vector<std::wstring> log = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(log,
                         L"Product '{7E550000-0000-4000-8000-0000000000B5}' is installed per-user for another "
                         L"account (S-1-5-21-1111-2222-3333-1001); this run cannot patch it."));
    EXPECT_TRUE(Contains(log, L"Product 'Tess Advert' is installed per-machine."));
    EXPECT_FALSE(Contains(log, L"Product 'Tess Advert' is installed per-user.")) << "advertised only";
    EXPECT_EQ(log.back(), L"All updates applied successfully and MSI transaction committed.");
    KeepResultFile(logs);
}

// One patch that names an x64 and an x86 product is applied to each of them on its own, the x64
// one first, each with a verbose log of its own; an x64 package whose template still says AMD64
// goes with the x64 ones.
TEST(RealInstaller, APatchForAnX64AndAnX86ProductIsAppliedToEachOnItsOwnX64First)
{
    std::wstring logs = Work() + L"\\logs-platforms";
    EXPECT_EQ(RunUnattended(L"platforms.exe", logs), 0u);
    EXPECT_TRUE(Patched(L"Twin64", true));
    EXPECT_TRUE(Patched(L"Twin32"));
    EXPECT_TRUE(Patched(L"Legacy", true)) << "installed by Wine as a 64-bit package";
    const std::vector<std::wstring> expected = {
        L"Extracting update files.",
        L"Determining applicable patches.",
        L"Determining update application order for product 'Tess Twin64'.",
        L"Product 'Tess Twin64' is installed per-machine.",
        L"Determining update application order for product 'Tess Legacy'.",
        L"Product 'Tess Legacy' is installed per-machine.",
        L"Determining update application order for product 'Tess Twin32'.",
        L"Product 'Tess Twin32' is installed per-machine.",
        L"Installing update 'twin.msp' for 'Tess Twin64'.",
        L"MsiApplyPatch succeeded.",
        L"Installing update 'legacy.msp' for 'Tess Legacy'.",
        L"MsiApplyPatch succeeded.",
        L"Installing update 'twin.msp' for 'Tess Twin32'.",
        L"MsiApplyPatch succeeded.",
        L"All updates applied successfully and MSI transaction committed.",
    };
    EXPECT_EQ(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"), expected);
    for (const wchar_t* code : {L"0000000000C2", L"0000000000C3"}) {
        Bytes bytes;
        EXPECT_TRUE(ReadAllBytes(logs + L"\\twin.msp " + Code(code) + L".log", bytes) && !bytes.empty())
            << "no verbose log of its own for " << testing::PrintToString(std::wstring(code));
        EXPECT_EQ(AppliedPatches(Code(code)).size(), 1u);
    }
    KeepResultFile(logs);
}

// Windows refuses ForceReboot and ScheduleReboot inside a transaction of several packages; Wine
// runs them there. So under Wine this proves the run's order and reports: the product whose own
// sequence schedules a restart, and the one whose patch adds a restart action, are patched
// after the plain one's transaction, each on its own, with REBOOT=ReallySuppress.
TEST(RealInstaller, ProductsThatScheduleARestartArePatchedAfterTheTransactionEachOnItsOwn)
{
    std::wstring logs = Work() + L"\\logs-restarts";
    // A restart action under REBOOT=ReallySuppress: no restart, and 3010 for the one due.
    EXPECT_EQ(RunUnattended(L"restarts.exe", logs), 3010u);
    EXPECT_TRUE(Patched(L"Booter"));
    EXPECT_TRUE(Patched(L"Restarter"));
    EXPECT_TRUE(Patched(L"Plain"));
    std::vector<std::wstring> log = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(log,
                         L"Product '{7E550000-0000-4000-8000-0000000000D3}' has ScheduleReboot in its "
                         L"InstallExecuteSequence, which Windows Installer does not run inside an MSI "
                         L"transaction; its updates are applied after the transaction, on their own."));
    EXPECT_TRUE(Contains(log,
                         L"Update 'restarter.msp' adds ScheduleReboot in InstallExecuteSequence (transform T1), "
                         L"which Windows Installer does not run inside an MSI transaction; the updates of 'Tess "
                         L"Restarter' are applied after the transaction, on their own."));
    std::vector<std::wstring> installing;
    for (const std::wstring& line : log) {
        if (line.compare(0, 18, L"Installing update ") == 0)
            installing.push_back(line);
    }
    EXPECT_EQ(installing, (std::vector<std::wstring>{L"Installing update 'plain.msp' for 'Tess Plain'.",
                                                     L"Installing update 'booter.msp' for 'Tess Booter'.",
                                                     L"Installing update 'restarter.msp' for 'Tess Restarter'."}))
        << "the transaction's installation first, though its code sorts last";
    KeepResultFile(logs);
}

TEST(RealInstaller, InteractiveRunWithAFileInUseAsksForARestartAndNoMeansNoRestart)
{
    std::wstring logs = Work() + L"\\logs-reboot";
    HeldOpen inUse(Installed(L"Reboot", false));
    ASSERT_TRUE(inUse.IsOpen());
    DrivenProcess process;
    ASSERT_TRUE(process.Start(Work() + L"\\reboot.exe", {L"-l", logs}));
    HWND window = process.WaitForWindow(L"Tessarvane Updater", Timeout);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ControlText(window, IDC_HEADER_TEXT), L"This utility will update your Tess Suite to version 2.1.");
    EXPECT_EQ(ControlText(window, IDC_STATUS_TEXT), L"Click 'OK' to continue");
    PressButton(window, IDOK);

    HWND question = process.WaitForWindow(L"Tessarvane Updater - Reboot Required", Timeout);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(MessageBoxText(question),
              L"Product updates successfully applied, but a reboot is required. Would you like to reboot now?");
    EXPECT_EQ(ButtonIds(question), (std::vector<int>{IDYES, IDNO}));
    // Behind the question the run's status and its marquee bar, a common control.
    EXPECT_EQ(ControlText(window, IDC_STATUS_TEXT), L"Installing update 'reboot.msp' for 'Tess Reboot'.");
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    EXPECT_TRUE(bar != nullptr && IsWindowVisible(bar));
    EXPECT_EQ(_wcsicmp(WindowClass(bar).c_str(), L"msctls_progress32"), 0);
    PressButton(question, IDNO);

    EXPECT_TRUE(WaitForControlText(window, IDC_STATUS_TEXT, L"Finished updating."));
    EXPECT_EQ(ControlText(window, IDCANCEL), L"Close");
    PressButton(window, IDCANCEL);
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    inUse.Close();
    EXPECT_FALSE(Patched(L"Reboot")) << "replaced only at the restart";
    EXPECT_TRUE(ReplacedAtRestart(L"Reboot"));
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"One or more of the updates installed require a reboot."));
    EXPECT_TRUE(Contains(lines, L"All updates applied successfully and MSI transaction committed."));
    KeepResultFile(logs);
}

TEST(RealInstaller, UnattendedRunWithAFileInUseEndsByItselfWith3010AndRegistersTheInspectedPatchCode)
{
    std::vector<std::wstring> tempBefore = ListFolder(WindowsTempFolder());
    std::wstring logs = Work() + L"\\logs-silent";
    HeldOpen inUse(Installed(L"Silent", false));
    ASSERT_TRUE(inUse.IsOpen());
    EXPECT_EQ(RunUnattended(L"silent-reboot.exe", logs), 3010u) << "success, restart needed";
    inUse.Close();
    EXPECT_TRUE(ReplacedAtRestart(L"Silent"));
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - 2, lines.end()),
              (std::vector<std::wstring>{L"All updates applied successfully and MSI transaction committed.",
                                         L"One or more of the updates installed require a reboot."}));
    EXPECT_EQ(ListFolder(WindowsTempFolder()), tempBefore) << "the working folder was left behind";
    KeepResultFile(logs);

    // A deployment tool's detection rule looks for this code under the product.
    std::wstring patchCode = InspectedPatchCode();
    ASSERT_EQ(patchCode.size(), 38u) << "pass the patch code that inspect showed";
    EXPECT_EQ(AppliedPatches(Code(L"0000000000D2")), std::vector<std::wstring>{patchCode});
    wchar_t state[8] = L"";
    DWORD length = 8;
    EXPECT_EQ(MsiGetPatchInfoExW(patchCode.c_str(), Code(L"0000000000D2").c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE,
                                 INSTALLPROPERTY_PATCHSTATE, state, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(state, L"1") << "applied";
}

TEST(RealInstaller, UnattendedRefusedPatchEndsWithItsErrorRollsBackAndStopsBeforeLaterProducts)
{
    std::wstring logs = Work() + L"\\logs-refused";
    EXPECT_EQ(RunUnattended(L"refused.exe", logs), 1603u) << "the patch's own error";
    EXPECT_FALSE(Patched(L"Refused"));
    EXPECT_FALSE(Patched(L"Later"));
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"Installing update 'refused.msp' for 'Tess Refused'."));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - 2, lines.end()),
              (std::vector<std::wstring>{L"MsiApplyPatch failed with error=1603", L"MSI transaction rolled back."}));
    EXPECT_FALSE(Contains(lines, L"Installing update 'later.msp' for 'Tess Later'."));
    EXPECT_FALSE(Contains(lines, L"All updates applied successfully and MSI transaction committed."));
    KeepResultFile(logs);
}

TEST(RealInstaller, InteractiveRefusedPatchShowsTheFailureAndStillExitsWithZero)
{
    std::wstring logs = Work() + L"\\logs-refused-interactive";
    DrivenProcess process;
    ASSERT_TRUE(process.Start(Work() + L"\\refused.exe", {L"-l", logs}));
    HWND window = process.WaitForWindow(L"Tessarvane Updater", Timeout);
    ASSERT_NE(window, nullptr);
    PressButton(window, IDOK);
    EXPECT_TRUE(WaitForControlText(window, IDC_STATUS_TEXT, L"Update failed."));
    EXPECT_EQ(ControlText(window, IDCANCEL), L"Close");
    PressButton(window, IDCANCEL);
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u) << "the outcome is in the window and the log";
    EXPECT_FALSE(Patched(L"Refused"));
    EXPECT_TRUE(Contains(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"), L"MSI transaction rolled back."));
    KeepResultFile(logs);
}

TEST(RealInstaller, UpdaterSignedAfterPackingPatchesJustAsWell)
{
    EXPECT_EQ(RunUnattended(L"signed.exe", Work() + L"\\logs-signed"), 0u);
    EXPECT_TRUE(Patched(L"Signed"));
    KeepResultFile(Work() + L"\\logs-signed");
}

namespace {

// What a script sees of the check: its exit code, its one line on standard output (a file
// here, as a redirection makes it) and its result file.
struct CheckRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string line;
};

CheckRun RunCheck(const std::wstring& updater, const std::wstring& logs)
{
    CheckRun run;
    std::wstring outputPath = logs + L".stdout";
    CreateDirectoryW(logs.c_str(), nullptr);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE output =
        CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(output, INVALID_HANDLE_VALUE);
    DrivenProcess process;
    EXPECT_TRUE(process.Start(Work() + L"\\" + updater, {L"-q", L"-l", logs}, nullptr, output));
    CloseHandle(output);
    EXPECT_EQ(process.WaitForWindow(L"", 2000), nullptr) << "a check shows no window";
    EXPECT_TRUE(process.WaitForExit(Timeout, run.exitCode)) << "the check did not end";
    Bytes bytes;
    ReadAllBytes(outputPath, bytes);
    run.line.assign(bytes.begin(), bytes.end());
    return run;
}

// The names of the files in a log folder: a check writes no verbose log.
std::vector<std::wstring> LogFolderFiles(const std::wstring& logs)
{
    std::vector<std::wstring> names = ListFolder(logs, Entries::Files);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// The check before and after the update: it tells what an update run would apply, and
// changes nothing, neither the installed file nor Windows Installer's registration.
TEST(RealInstaller, ACheckTellsWhatTheUpdateWouldApplyAndChangesNothingBeforeOrAfterIt)
{
    const std::wstring code = Code(L"0000000000E2");
    Bytes original;
    ASSERT_TRUE(ReadAllBytes(Installed(L"Checked", false), original));
    std::vector<std::wstring> tempBefore = ListFolder(WindowsTempFolder());

    std::wstring logs = Work() + L"\\logs-check-before";
    CheckRun before = RunCheck(L"checked.exe", logs);
    EXPECT_EQ(before.exitCode, 2u) << "an update is needed";
    EXPECT_EQ(before.line,
              "update needed: Tess Checked " + std::string(code.begin(), code.end()) + " (per-machine)\r\n");
    Bytes now;
    EXPECT_TRUE(ReadAllBytes(Installed(L"Checked", false), now) && now == original) << "the check changed the file";
    EXPECT_TRUE(AppliedPatches(code).empty()) << "the check registered a patch";
    EXPECT_EQ(LogFolderFiles(logs), (std::vector<std::wstring>{L"TessarvaneUpdater.json", L"TessarvaneUpdater.log"}));
    EXPECT_TRUE(Contains(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"),
                         L"Update 'checked.msp' would be applied to 'Tess Checked' (per-machine)."));
    EXPECT_EQ(ListFolder(WindowsTempFolder()), tempBefore) << "the working folder was left behind";
    KeepResultFile(logs, L"before");

    EXPECT_EQ(RunUnattended(L"checked.exe", Work() + L"\\logs-check-apply"), 0u);
    ASSERT_TRUE(Patched(L"Checked"));
    std::vector<std::wstring> registered = AppliedPatches(code);
    ASSERT_EQ(registered.size(), 1u);

    logs = Work() + L"\\logs-check-after";
    CheckRun after = RunCheck(L"checked.exe", logs);
    EXPECT_EQ(after.exitCode, 0u) << "up to date";
    EXPECT_EQ(after.line, "up to date\r\n");
    EXPECT_TRUE(Patched(L"Checked"));
    EXPECT_EQ(AppliedPatches(code), registered);
    EXPECT_EQ(LogFolderFiles(logs), (std::vector<std::wstring>{L"TessarvaneUpdater.json", L"TessarvaneUpdater.log"}));
    KeepResultFile(logs, L"after");
}

namespace {

// The value Session Manager keeps the files to replace at the next start in, as it stood.
struct SavedRenames {
    SavedRenames()
    {
        DWORD size = 0;
        present = RegGetValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                               nullptr, nullptr, &size) == ERROR_SUCCESS;
        if (present) {
            bytes.resize(size);
            RegGetValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                         nullptr, bytes.data(), &size);
            bytes.resize(size);
        }
    }
    ~SavedRenames()
    {
        if (present)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations", REG_MULTI_SZ,
                            bytes.data(), static_cast<DWORD>(bytes.size()));
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations");
    }

    static constexpr const wchar_t* sessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";
    bool present = false;
    std::vector<BYTE> bytes;
};

}  // namespace

// -w: the run waits while another installation holds Windows Installer, and ends with 1618,
// having changed nothing, when it still does once the time is up.
TEST(RealInstaller, AnUpdateRunWaitsForAnotherInstallationAndEndsWith1618WhenItGoesOn)
{
    std::wstring logs = Work() + L"\\logs-wait-over";
    {
        OtherInstallation other(INFINITE);
        DrivenProcess process;
        ASSERT_TRUE(process.Start(Work() + L"\\waited.exe", {L"-a", L"-w", L"2", L"-l", logs}));
        DWORD exitCode = 0xFFFFFFFF;
        ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
        EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
    }
    EXPECT_FALSE(Patched(L"Waited"));
    EXPECT_TRUE(AppliedPatches(Code(L"0000000000E3")).empty());
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"Another installation is in progress; waiting up to 2 seconds for it to end."));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Another installation was still in progress after 2 seconds.");
    KeepResultFile(logs, L"over");

    logs = Work() + L"\\logs-wait-ended";
    {
        OtherInstallation other(1500);
        DrivenProcess process;
        ASSERT_TRUE(process.Start(Work() + L"\\waited.exe", {L"-a", L"-w", L"60", L"-l", logs}));
        DWORD exitCode = 0xFFFFFFFF;
        ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
        EXPECT_EQ(exitCode, 0u);
    }
    EXPECT_TRUE(Patched(L"Waited"));
    lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"The other installation has ended."));
    EXPECT_TRUE(Contains(lines, L"All updates applied successfully and MSI transaction committed."));
    KeepResultFile(logs, L"ended");
}

// Windows Installer's cached copy of the product's package is gone: the run names it and ends
// with 1612 before anything changes, as does the check.
TEST(RealInstaller, AMissingCachedPackageEndsTheRunWith1612AndChangesNothing)
{
    const std::wstring code = Code(L"0000000000E4");
    wchar_t package[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    ASSERT_EQ(MsiGetProductInfoExW(code.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_LOCALPACKAGE,
                                   package, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_TRUE(DeleteFileW(package)) << "the cached package";

    std::wstring logs = Work() + L"\\logs-uncached";
    EXPECT_EQ(RunUnattended(L"uncached.exe", logs), static_cast<DWORD>(ERROR_INSTALL_SOURCE_ABSENT));
    EXPECT_FALSE(Patched(L"Uncached"));
    EXPECT_TRUE(AppliedPatches(code).empty());
    std::wstring line = L"The cached package of product '" + code + L"' (per-machine) is missing: " + package +
                        L". Repair or reinstall the product before updating it.";
    EXPECT_TRUE(Contains(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"), line));
    KeepResultFile(logs);

    CheckRun check = RunCheck(L"uncached.exe", Work() + L"\\logs-uncached-check");
    EXPECT_EQ(check.exitCode, static_cast<DWORD>(ERROR_INSTALL_SOURCE_ABSENT));
    std::wstring failed = L"check failed: " + line + L"\r\n";
    EXPECT_EQ(check.line, std::string(failed.begin(), failed.end()));
}

// A restart that Windows awaits already is logged and recorded; the run goes on.
TEST(RealInstaller, ARestartThatWindowsAwaitsIsRecordedAndTheRunGoesOn)
{
    SavedRenames saved;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SavedRenames::sessionManager, L"PendingFileRenameOperations");
    std::wstring logs = Work() + L"\\logs-pending-none";
    DWORD exitCode = RunCheck(L"checked.exe", logs).exitCode;
    EXPECT_TRUE(exitCode == 0 || exitCode == 2) << exitCode;
    KeepResultFile(logs, L"none");

    // A deletion at the next start, of a file that is not there.
    const wchar_t planted[] = L"\\??\\C:\\tessarvane-planted.tmp\0\0";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, SavedRenames::sessionManager, L"PendingFileRenameOperations",
                              REG_MULTI_SZ, planted, sizeof planted),
              ERROR_SUCCESS);
    logs = Work() + L"\\logs-pending-planted";
    exitCode = RunCheck(L"checked.exe", logs).exitCode;
    EXPECT_TRUE(exitCode == 0 || exitCode == 2) << exitCode;
    EXPECT_TRUE(Contains(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"),
                         L"Windows is waiting for a restart already: files to replace (PendingFileRenameOperations)."));
    KeepResultFile(logs, L"planted");
}

// DLLs planted beside the updater and in its current folder, with Wine told to prefer them to
// its own as Windows' search order would: run-scenarios.sh put copies of a DLL that leaves
// "NAME.dll.loaded" beside itself into Work()\planted, next to planted.exe and beside.exe, and
// set those overrides for them and for control.exe.
namespace {

class PlantedDlls : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Work().empty());
        folder = Work() + L"\\planted";
        RemoveMarkers();
    }

    void TearDown() override { RemoveMarkers(); }

    std::vector<std::wstring> Markers() const
    {
        std::vector<std::wstring> markers;
        for (const std::wstring& name : ListFolder(folder, Entries::Files)) {
            if (name.size() > 7 && name.compare(name.size() - 7, 7, L".loaded") == 0)
                markers.push_back(name);
        }
        return markers;
    }

    void RemoveMarkers() const
    {
        for (const std::wstring& name : Markers())
            DeleteFileW((folder + L"\\" + name).c_str());
    }

    std::wstring folder;
};

}  // namespace

// Without this the other tests could pass with plants that nothing would ever load.
TEST_F(PlantedDlls, AreLoadedByAProgramThatDoesNotKeepThemOut)
{
    DrivenProcess control;
    ASSERT_TRUE(control.Start(folder + L"\\control.exe", {L"--gtest_list_tests"}, folder.c_str()));
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(control.WaitForExit(Timeout, exitCode));
    EXPECT_FALSE(Markers().empty()) << "the plants or the overrides do not work";
}

TEST_F(PlantedDlls, AreNotLoadedByAnUnattendedRunThatPatches)
{
    std::wstring logs = Work() + L"\\logs-planted";
    DrivenProcess process;
    ASSERT_TRUE(process.Start(folder + L"\\planted.exe", {L"-a", L"-l", logs}, folder.c_str()));
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Patched(L"Planted"));
    EXPECT_TRUE(Contains(ReadLogMessages(logs + L"\\TessarvaneUpdater.log"),
                         L"All updates applied successfully and MSI transaction committed."));
    EXPECT_EQ(Markers(), std::vector<std::wstring>());
    KeepResultFile(logs);
}

// Also the place of the working folder while the run's window is up: the Windows folder's
// Temp, not the user's temporary folder.
TEST_F(PlantedDlls, AreNotLoadedByAnInteractiveRunWhoseWorkingFolderIsUnderTheWindowsTemp)
{
    std::vector<std::wstring> windowsTempBefore = ListFolder(WindowsTempFolder(), Entries::Folders);
    std::vector<std::wstring> userTempBefore = ListFolder(TemporaryFolder(), Entries::Folders);
    DrivenProcess process;
    ASSERT_TRUE(process.Start(folder + L"\\beside.exe", {}, folder.c_str()));
    HWND window = process.WaitForWindow(L"Tessarvane Updater", Timeout);
    ASSERT_NE(window, nullptr);
    PressButton(window, IDOK);
    ASSERT_TRUE(WaitForControlText(window, IDC_STATUS_TEXT, L"Finished updating."));

    std::vector<std::wstring> added;
    for (const std::wstring& name : ListFolder(WindowsTempFolder(), Entries::Folders)) {
        if (std::find(windowsTempBefore.begin(), windowsTempBefore.end(), name) == windowsTempBefore.end())
            added.push_back(name);
    }
    ASSERT_EQ(added.size(), 1u) << "one working folder under the Windows folder's Temp";
    EXPECT_EQ(added[0].size(), 36u) << "named by a GUID";
    EXPECT_TRUE(FileExists(WindowsTempFolder() + L"\\" + added[0] + L"\\beside.msp"));
    EXPECT_EQ(ListFolder(TemporaryFolder(), Entries::Folders), userTempBefore) << "nothing in the user's Temp";

    PressButton(window, IDCANCEL);
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(FileExists(WindowsTempFolder() + L"\\" + added[0])) << "removed when the window closed";
    EXPECT_TRUE(Patched(L"Beside"));
    EXPECT_EQ(Markers(), std::vector<std::wstring>());
}

TEST_F(PlantedDlls, AreNotLoadedWhenExtracting)
{
    std::wstring out = Work() + L"\\extracted-planted";
    DrivenProcess process;
    ASSERT_TRUE(process.Start(folder + L"\\planted.exe", {L"-x", out}, folder.c_str()));
    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ListFolder(out), std::vector<std::wstring>{L"planted.msp"});
    EXPECT_EQ(Markers(), std::vector<std::wstring>());
}

// Taking a patch back (-u). Wine's Windows Installer removes no patch: its MsiRemovePatchesW
// answers success and changes nothing (so do MSIPATCHREMOVE and msiexec). What these runs prove
// under Wine is what the updater does with Windows Installer's own answers: a removal that
// leaves the patch listed is a failure, never a success; one patch that may not be removed keeps
// every other one in place; and where nothing is listed nothing is begun. The removal itself is
// proved against Windows' documented answers in unit_patching (Removal.*).
namespace {

DWORD RunRemoval(const std::wstring& updater, const std::wstring& logs)
{
    DrivenProcess process;
    EXPECT_TRUE(process.Start(Work() + L"\\" + updater, {L"-u", L"-a", L"-l", logs}));
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_TRUE(process.WaitForExit(Timeout, exitCode)) << "the removal did not end";
    return exitCode;
}

}  // namespace

TEST(RealInstaller, ARemovalThatWindowsInstallerAnswersButDoesNotMakeIsAFailure)
{
    const std::wstring code = Code(L"0000000000E5");
    // The window of a removal says so; closed before OK, it changes nothing.
    {
        DrivenProcess process;
        ASSERT_TRUE(process.Start(Work() + L"\\taken.exe", {L"-u"}));
        HWND window = process.WaitForWindow(L"Tessarvane Updater", Timeout);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ControlText(window, IDC_HEADER_TEXT),
                  L"This utility will remove the updates of Tess Suite version 3.3.");
        PressButton(window, IDCANCEL);
        DWORD exitCode = 0xFFFFFFFF;
        ASSERT_TRUE(process.WaitForExit(Timeout, exitCode));
        EXPECT_EQ(exitCode, 0u);
    }

    EXPECT_EQ(RunUnattended(L"taken.exe", Work() + L"\\logs-taken-apply"), 0u);
    ASSERT_TRUE(Patched(L"Taken"));
    std::vector<std::wstring> registered = AppliedPatches(code);
    ASSERT_EQ(registered.size(), 1u);
    wchar_t removable[8] = L"";
    DWORD length = 8;
    EXPECT_EQ(MsiGetPatchInfoExW(registered[0].c_str(), code.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE,
                                 INSTALLPROPERTY_UNINSTALLABLE, removable, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(removable, L"1") << "made with --allow-removal";

    std::wstring logs = Work() + L"\\logs-taken";
    EXPECT_EQ(RunRemoval(L"taken.exe", logs), static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    EXPECT_TRUE(Patched(L"Taken")) << "Wine removes nothing";
    EXPECT_EQ(AppliedPatches(code), registered);
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"Removing update 'taken.msp' from 'Tess Taken'."));
    EXPECT_TRUE(Contains(lines, L"MsiRemovePatches succeeded."));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              L"Windows Installer still lists update 'taken.msp' for 'Tess Taken' (per-machine) after "
              L"the commit.");
    KeepResultFile(logs);
}

TEST(RealInstaller, OnePatchThatCannotBeRemovedKeepsEveryPatchInPlace)
{
    EXPECT_EQ(RunUnattended(L"kept.exe", Work() + L"\\logs-kept-apply"), 0u);
    ASSERT_TRUE(Patched(L"Kept"));
    ASSERT_TRUE(Patched(L"Freed"));
    std::wstring logs = Work() + L"\\logs-kept";
    EXPECT_EQ(RunRemoval(L"kept.exe", logs), static_cast<DWORD>(ERROR_PATCH_REMOVAL_UNSUPPORTED));
    EXPECT_TRUE(Patched(L"Kept"));
    EXPECT_TRUE(Patched(L"Freed"));
    EXPECT_EQ(AppliedPatches(Code(L"0000000000E6")).size(), 1u);
    EXPECT_EQ(AppliedPatches(Code(L"0000000000E7")).size(), 1u);
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines,
                         L"Update 'kept.msp' cannot be removed from 'Tess Kept' (per-machine): its "
                         L"MsiPatchMetadata does not allow removal."));
    EXPECT_FALSE(Contains(lines, L"Removing update 'freed.msp' from 'Tess Freed'."));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Nothing was removed: not every update can be removed.");
    KeepResultFile(logs);
}

TEST(RealInstaller, ARemovalWhereNothingIsListedBeginsNothingAndSucceeds)
{
    std::wstring logs = Work() + L"\\logs-untouched";
    EXPECT_EQ(RunRemoval(L"untouched.exe", logs), 0u);
    EXPECT_FALSE(Patched(L"Untouched"));
    std::vector<std::wstring> lines = ReadLogMessages(logs + L"\\TessarvaneUpdater.log");
    EXPECT_TRUE(Contains(lines, L"Update 'untouched.msp' is not installed for 'Tess Untouched'."));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"No update needs removing; no MSI transaction was begun.");
    KeepResultFile(logs);
}
