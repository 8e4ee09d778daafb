// The check (-q) as a script runs it: what it finds, its exit code, its line on standard output
// and its result file, and that it changes nothing, with or without administrator rights.
// Windows Installer and the extraction are the fakes of this binary.
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

// Standard output as a script that reads the program's output gives it: a pipe.
class CapturedOutput {
public:
    CapturedOutput()
    {
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        CreatePipe(&read_, &write_, nullptr, 0);
        SetStdHandle(STD_OUTPUT_HANDLE, write_);
    }
    ~CapturedOutput() { Release(); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Everything written so far, once the writing end is closed.
    std::string Text()
    {
        Release();
        std::string text;
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(read_, buffer, sizeof buffer, &got, nullptr) && got != 0)
            text.append(buffer, got);
        return text;
    }

private:
    void Release()
    {
        if (write_ == nullptr)
            return;
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        CloseHandle(write_);
        write_ = nullptr;
    }

    HANDLE saved_ = nullptr;
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

class TheCheck : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        ResetAppState();
        appState.runMode = RunMode::Check;
        appState.logFolder = logs.path() + L"\\";
        OpenLogFile();
        // {A} per-machine with a.msp to apply, {B} with b.msp applied already.
        fake.patches = {{L"a.msp", L"{A}"}, {L"b.msp", L"{B}"}};
        fake.products[L"{A}"].name = L"Product A";
        fake.products[L"{B}"].name = L"Product B";
        fake.appliedPatches.insert(AppliedKey(FakePatchCode(fake.patches[1]), L"{B}", MSIINSTALLCONTEXT_MACHINE));
    }

    void TearDown() override
    {
        ResetAppState();
        ResetFake();
    }

    // One check, as wWinMain runs it: its exit code; its line and result file are kept.
    int Check()
    {
        CapturedOutput output;
        UpdateRun run;
        int exitCode = run.Finish(run.Check());
        workingFolder = run.WorkingFolder();
        line = output.Text();
        Bytes bytes;
        ReadAllBytes(logs / L"TessarvaneUpdater.json", bytes);
        result.assign(bytes.begin(), bytes.end());
        return exitCode;
    }

    bool InResult(const std::string& text) const { return result.find(text) != std::string::npos; }

    // Every call that changes an installation or writes a verbose log.
    static std::vector<std::wstring> Changes()
    {
        std::vector<std::wstring> changes;
        for (const wchar_t* prefix : {L"MsiApplyMultiplePatchesW", L"MsiBeginTransactionW", L"MsiEndTransaction",
                                      L"MsiEnableLogW", L"ExitWindowsEx"}) {
            for (const std::wstring& call : CallsStartingWith(prefix))
                changes.push_back(call);
        }
        return changes;
    }

    TempFolder logs;
    std::wstring workingFolder;
    std::string line;
    std::string result;
};

}  // namespace

TEST_F(TheCheck, TellsWhichInstallationsNeedAnUpdateAndChangesNothing)
{
    EXPECT_EQ(Check(), 2);
    EXPECT_EQ(line, "update needed: Product A {A} (per-machine)\r\n");
    EXPECT_TRUE(Changes().empty()) << testing::PrintToString(Changes());
    EXPECT_TRUE(InResult("\"mode\": \"check\"")) << result;
    EXPECT_TRUE(InResult("\"outcome\": \"update-needed\""));
    EXPECT_TRUE(InResult("\"exitCode\": 2"));
    EXPECT_TRUE(InResult("\"status\": \"would-apply\""));
    EXPECT_TRUE(InResult("\"status\": \"already-applied\""));
    EXPECT_TRUE(InResult("\"elevated\": true"));
    EXPECT_TRUE(InResult("\"transaction\": null"));
    EXPECT_FALSE(workingFolder.empty());
    EXPECT_FALSE(DirectoryExists(workingFolder.c_str())) << "the working folder outlived the check";
    std::vector<std::wstring> log = ReadLogMessages(logs / L"TessarvaneUpdater.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Update 'a.msp' would be applied to 'Product A' (per-machine)."), 1);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), L"The check found updates to apply; nothing was changed.");

    // Once every patch is in: up to date, exit code 0.
    SetUp();
    fake.appliedPatches.insert(AppliedKey(FakePatchCode(fake.patches[0]), L"{A}", MSIINSTALLCONTEXT_MACHINE));
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(line, "up to date\r\n");
    EXPECT_TRUE(InResult("\"outcome\": \"nothing-to-do\""));
    EXPECT_TRUE(Changes().empty());
}

// Deployment tools also run detection as the signed-in user. Without administrator rights
// Windows Installer lists no other account's installations, so the check asks for its own and
// the machine's, and says in its log and result that that is all it saw. Its working folder is
// its own account's; the protected one could not be written.
TEST_F(TheCheck, RunsWithoutAdministratorRightsAndSaysWhatItCouldNotSee)
{
    fake.notElevated = true;
    fake.products[L"{A}"].otherAccounts = {{MSIINSTALLCONTEXT_USERUNMANAGED, L"S-1-5-21-1-2-3-1001"}};
    EXPECT_EQ(Check(), 2);
    EXPECT_EQ(line, "update needed: Product A {A} (per-machine)\r\n");
    EXPECT_TRUE(InResult("\"elevated\": false")) << result;
    EXPECT_EQ(result.find("other-account"), std::string::npos) << "another account's installation was listed";
    EXPECT_EQ(CallsStartingWith(L"MsiEnumProductsExW(").front(), L"MsiEnumProductsExW(null, null, 7, 0)");
    std::vector<std::wstring> log = ReadLogMessages(logs / L"TessarvaneUpdater.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(),
              L"Not running elevated: the check sees only this account's and the machine's installations.");
    wchar_t temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(ARRAYSIZE(temporary), temporary);
    EXPECT_EQ(workingFolder.rfind(std::wstring(temporary, length), 0), 0u) << "the account's own temporary folder";
    EXPECT_TRUE(Changes().empty());
}

// A check that fails ends as the update run would: its code, its step, and a line that says
// so, so that a script never reads a failure as "up to date".
TEST_F(TheCheck, FailsWithTheCodeTheUpdateRunWouldAndSaysSo)
{
    fake.products[L"{A}"].sequence = {{ERROR_PATCH_TARGET_NOT_FOUND, 0xFFFFFFFF}};
    EXPECT_EQ(Check(), static_cast<int>(ERROR_PATCH_TARGET_NOT_FOUND));
    EXPECT_EQ(line, "check failed: Update 'a.msp' does not apply to 'Product A' as installed.\r\n");
    EXPECT_TRUE(InResult("\"outcome\": \"failed\""));
    EXPECT_TRUE(InResult("\"step\": \"sequencing\""));

    // A failure whose own code would read as "update needed" ends with 1.
    SetUp();
    fake.products[L"{A}"].sequenceResult = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(line.rfind("check failed: ", 0), 0u) << line;
    EXPECT_TRUE(Changes().empty());
}

// A missing cached package is found by the check as by the update run, before anything.
TEST_F(TheCheck, FindsAMissingCachedPackage)
{
    fake.missingFiles = {L"C:\\cache\\{A}.msi"};
    EXPECT_EQ(Check(), static_cast<int>(ERROR_INSTALL_SOURCE_ABSENT));
    EXPECT_TRUE(InResult("\"status\": \"package-cache-missing\"")) << result;
    EXPECT_TRUE(InResult("\"step\": \"package-cache\""));
    EXPECT_EQ(line,
              "check failed: The cached package of product '{A}' (per-machine) is missing: C:\\cache\\{A}.msi. "
              "Repair or reinstall the product before updating it.\r\n");
}
