// The update run: target lists, the installed test and the platform groups, the
// transaction around every product with its commit or rollback, the failures before and
// inside it with their log lines and result codes, and the restart question.
#include <gtest/gtest.h>

#include "AppState.h"
#include "ApplyUpdates.h"
#include "Fakes.h"
#include "Log.h"
#include "RunRecord.h"
#include "TestFiles.h"
#include "VerboseLogs.h"

namespace {

const wchar_t folder[] = L"C:\\work";

class UpdateRun : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        ResetAppState();
        ForgetVerboseLogs();
        appState.logFolder = logs.path() + L"\\";
        OpenLogFile();
    }

    void TearDown() override
    {
        EXPECT_TRUE(fake.openHandles.empty()) << "a Windows Installer handle was left open";
        EXPECT_EQ(LivePatchDataCount(), 0u) << "a patch path copy was not freed";
        ResetAppState();
        ResetFake();
    }

    // Two patches and three targets: {A} x86 and targeted by both, {B} not installed, {C} x64.
    void ScriptTwoPatchesThreeTargets()
    {
        fake.patches = {{L"a.msp", L"{A};{B}"}, {L"b.msp", L"{C};{A}"}};
        fake.products[L"{A}"].name = L"Product A";
        fake.products[L"{B}"].state = INSTALLSTATE_ABSENT;
        fake.products[L"{C}"].name = L"Product C";
        fake.products[L"{C}"].packageTemplate = L"x64;1033";
    }

    std::vector<std::wstring> Log() { return ReadLogMessages(logs / L"TessarvaneUpdater.log"); }

    // Product codes in the order their patches were sequenced.
    std::vector<std::wstring> SequencedProducts()
    {
        std::vector<std::wstring> codes;
        for (const std::wstring& call : CallsStartingWith(L"MsiDeterminePatchSequenceW("))
            codes.push_back(call.substr(27, call.find(L',') - 27));
        return codes;
    }

    TempFolder logs;
};

std::wstring Pooled(const PooledText& text)
{
    return runRecord.pool.substr(text.offset, text.length);
}

std::wstring Apply(const std::wstring& file)
{
    return L"MsiApplyPatchW(C:\\work\\" + file + L", null, 0, REINSTALL=ALL REINSTALLMODE=omus)";
}

const wchar_t committed[] = L"All updates applied successfully and MSI transaction committed.";
const wchar_t question[] = L"ConfirmRestart";

// The patch at position in the index list of the product's installation in that context.
const PatchRecord& RecordedPatch(const std::wstring& code, DWORD context, size_t position)
{
    for (uint32_t i = 0; i < runRecord.products.size(); ++i) {
        const ProductRecord& product = runRecord.products[i];
        if (Pooled(product.code) == code && product.context == context && !product.otherAccount)
            return InstallationPatch(i, position);
    }
    ADD_FAILURE() << "no installation recorded in context " << context;
    static PatchRecord none{};
    return none;
}

}  // namespace

TEST_F(UpdateRun, MakesEveryCallInOrderAndClosesEveryHandle)
{
    ScriptTwoPatchesThreeTargets();
    StatusWatcher watcher;
    EXPECT_EQ(ApplyUpdates(folder, watcher.get()), 0);

    std::wstring verbose = L"C:\\work\\TessarvaneUpdater-verbose-";  // in the working folder
    std::wstring a = FakePatchCode(fake.patches[0]);
    std::wstring b = FakePatchCode(fake.patches[1]);
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{
                              L"ExtractUpdates(C:\\work)",
                              L"MsiOpenDatabaseW(C:\\work\\a.msp, 32)",
                              L"MsiGetSummaryInformationW(database:a.msp, null, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 8)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 9, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 9, 39)",
                              L"MsiCloseHandle(summary:a.msp)",
                              L"MsiCloseHandle(database:a.msp)",
                              L"MsiOpenDatabaseW(C:\\work\\b.msp, 32)",
                              L"MsiGetSummaryInformationW(database:b.msp, null, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 8)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 9, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 9, 39)",
                              L"MsiCloseHandle(summary:b.msp)",
                              L"MsiCloseHandle(database:b.msp)",
                              // Every installation on the machine, listed once: {A} and {C}.
                              L"MsiEnumProductsExW(null, S-1-1-0, 7, 0)",
                              L"MsiEnumProductsExW(null, S-1-1-0, 7, 1)",
                              L"MsiEnumProductsExW(null, S-1-1-0, 7, 2)",
                              L"MsiGetProductInfoExW({A}, 4, State, 16)",
                              L"MsiGetProductInfoExW({A}, 4, LocalPackage, 0)",
                              L"MsiGetProductInfoExW({A}, 4, LocalPackage, 17)",
                              L"MsiGetSummaryInformationW(0, C:\\cache\\{A}.msi, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 11)",
                              L"MsiCloseHandle(summary:C:\\cache\\{A}.msi)",
                              L"MsiGetProductInfoExW({C}, 4, State, 16)",
                              L"MsiGetProductInfoExW({C}, 4, LocalPackage, 0)",
                              L"MsiGetProductInfoExW({C}, 4, LocalPackage, 17)",
                              L"MsiGetSummaryInformationW(0, C:\\cache\\{C}.msi, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 9)",
                              L"MsiCloseHandle(summary:C:\\cache\\{C}.msi)",
                              L"MsiBeginTransactionW(TessarvaneUpdater, 0)",
                              L"MsiGetProductInfoExW({C}, 4, InstalledProductName, 0)",
                              L"MsiGetProductInfoExW({C}, 4, InstalledProductName, 10)",
                              L"MsiDeterminePatchSequenceW({C}, null, 4, [C:\\work\\b.msp])",
                              L"MsiSetInternalUI(2, null)",
                              L"MsiGetPatchInfoExW(" + b + L", {C}, 4, State)",
                              L"MsiEnableLogW(4096, " + verbose + L"1.log, 0)",
                              Apply(L"b.msp"),
                              L"free(C:\\work\\b.msp)",
                              L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 0)",
                              L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 10)",
                              L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\b.msp])",
                              L"MsiSetInternalUI(2, null)",
                              L"MsiGetPatchInfoExW(" + a + L", {A}, 4, State)",
                              L"MsiEnableLogW(4096, " + verbose + L"2.log, 0)",
                              Apply(L"a.msp"),
                              // b.msp names {A} too, so applying it to {C} patched {A} as well.
                              L"MsiGetPatchInfoExW(" + b + L", {A}, 4, State)",
                              L"free(C:\\work\\a.msp)",
                              L"free(C:\\work\\b.msp)",
                              L"MsiEndTransaction(1)",
                              // Each patch the run applied, checked once committed.
                              L"MsiGetPatchInfoExW(" + b + L", {C}, 4, State)",
                              L"MsiGetPatchInfoExW(" + a + L", {A}, 4, State)",
                              L"MsiCloseHandle(transaction)",
                          }));
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         L"Determining applicable patches.",
                         L"Product '{B}' is not installed.",
                         L"Determining update application order for product 'Product C'.",
                         L"Product 'Product C' is installed per-machine.",
                         L"Installing update 'b.msp' for 'Product C'.",
                         L"MsiApplyPatch succeeded.",
                         L"Determining update application order for product 'Product A'.",
                         L"Product 'Product A' is installed per-machine.",
                         L"Installing update 'a.msp' for 'Product A'.",
                         L"MsiApplyPatch succeeded.",
                         L"Update 'b.msp' is already installed for 'Product A'.",
                         committed,
                     }));
    EXPECT_EQ(watcher.texts().size(), 3u);
}

TEST_F(UpdateRun, ANullOrEmptyFolderOrAFailedExtractionEndsTheRun)
{
    EXPECT_EQ(ApplyUpdates(nullptr, {}), 1);
    EXPECT_EQ(ApplyUpdates(L"", {}), 1);
    EXPECT_TRUE(fake.calls.empty());

    fake.extractResult = 1;
    EXPECT_EQ(ApplyUpdates(folder, {}), 1);
    EXPECT_EQ(fake.calls, std::vector<std::wstring>{L"ExtractUpdates(C:\\work)"});
    EXPECT_TRUE(Log().empty());
}

TEST_F(UpdateRun, AnUnreadablePatchOrPackageIsLoggedAndEndsTheRunBeforeAnyTransaction)
{
    struct Case {
        const char* what;
        void (*spoil)();
        const wchar_t* lastCall;  // only closes follow it
        const wchar_t* logLine;   // the run's last line
    };
    const Case cases[] = {
        {"patch not opened", [] { fake.patches[1].openResult = ERROR_OPEN_FAILED; },
         L"MsiOpenDatabaseW(C:\\work\\b.msp, 32)", L"Opening patch 'b.msp' failed with error=110."},
        {"patch summary", [] { fake.patches[0].summaryResult = ERROR_INVALID_HANDLE; },
         L"MsiGetSummaryInformationW(database:a.msp",
         L"Reading the target products of patch 'a.msp' failed with error=6."},
        {"patch size query answers 0", [] { fake.patches[0].sizeResult = ERROR_SUCCESS; },
         L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)",
         L"Reading the target products of patch 'a.msp' failed with error=13."},
        {"patch size query fails", [] { fake.patches[0].sizeResult = ERROR_INVALID_PARAMETER; },
         L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)",
         L"Reading the target products of patch 'a.msp' failed with error=87."},
        {"patch read", [] { fake.patches[1].readResult = ERROR_MORE_DATA; },
         L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 8)",
         L"Reading the target products of patch 'b.msp' failed with error=234."},
        {"package size query", [] { fake.products[L"{C}"].packageSizeResult = ERROR_UNKNOWN_PROPERTY; },
         L"MsiGetProductInfoExW({C}, 4, LocalPackage, 0)",
         L"Reading the installed package of product '{C}' failed with error=1608."},
        {"package read", [] { fake.products[L"{A}"].packageReadResult = ERROR_MORE_DATA; },
         L"MsiGetProductInfoExW({A}, 4, LocalPackage, 17)",
         L"Reading the installed package of product '{A}' failed with error=234."},
        {"package summary", [] { fake.products[L"{C}"].summaryResult = ERROR_OPEN_FAILED; },
         L"MsiGetSummaryInformationW(0, C:\\cache\\{C}.msi, 0)",
         L"Reading the installed package of product '{C}' failed with error=110."},
        {"template size query answers 0", [] { fake.products[L"{A}"].templateSizeResult = ERROR_SUCCESS; },
         L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 0)",
         L"Reading the installed package of product '{A}' failed with error=13."},
        {"template read", [] { fake.products[L"{C}"].templateReadResult = ERROR_INVALID_PARAMETER; },
         L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 9)",
         L"Reading the installed package of product '{C}' failed with error=87."},
    };
    size_t logged = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_EQ(ApplyUpdates(folder, {}), 1);
        EXPECT_TRUE(fake.openHandles.empty());
        size_t last = fake.calls.size();
        while (last > 0 && fake.calls[last - 1].compare(0, 15, L"MsiCloseHandle(") == 0)
            --last;
        ASSERT_GT(last, 0u);
        EXPECT_EQ(fake.calls[last - 1].compare(0, wcslen(c.lastCall), c.lastCall), 0)
            << "last: " << testing::PrintToString(fake.calls[last - 1]);
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty()) << "no transaction, nothing to roll back";

        // Exactly one new line names the file or product and the error; while grouping, it
        // follows the line that opens that phase.
        std::vector<std::wstring> log = Log();
        ASSERT_GT(log.size(), logged);
        EXPECT_EQ(log.back(), c.logLine);
        bool grouping = CallsStartingWith(L"MsiEnumProductsExW").size() > 0;
        // {A} comes first; {C} follows the line that {B} is not installed.
        size_t grouped = wcsstr(c.logLine, L"{C}") != nullptr ? 3u : 2u;
        EXPECT_EQ(log.size() - logged, grouping ? grouped : 1u);
        logged = log.size();
    }
}

TEST_F(UpdateRun, AFailureInsideTheTransactionRollsItBackBeforeTheHandleCloses)
{
    struct Case {
        const char* what;
        void (*spoil)();
        std::vector<std::wstring> sequenced;
        std::vector<std::wstring> lastLines;
    };
    const Case cases[] = {
        {"x64 product fails",
         [] { fake.products[L"{C}"].sequenceResult = ERROR_FUNCTION_FAILED; },
         {L"{C}"},
         {L"MsiDeterminePatchSequence failed with error=1627", L"MSI transaction rolled back."}},
        {"second product, the first of the x86 group, fails",
         [] {
             fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
         },
         {L"{C}", L"{A}"},
         {L"MsiApplyPatch failed with error=1603", L"MSI transaction rolled back."}},
        {"the rollback itself fails",
         [] {
             fake.applyResults = {ERROR_INSTALL_FAILURE};
             fake.rollbackResult = ERROR_INSTALL_FAILURE;
         },
         {L"{C}"},
         {L"MsiApplyPatch failed with error=1603", L"Rolling back MSI transaction failed with error=1603."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_NE(ApplyUpdates(folder, {}), 0);
        EXPECT_EQ(SequencedProducts(), c.sequenced);
        ASSERT_GE(fake.calls.size(), 2u);
        std::vector<std::wstring> tail(fake.calls.end() - 2, fake.calls.end());
        EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiEndTransaction(0)", L"MsiCloseHandle(transaction)"}));
        EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction").size(), 1u) << "never committed";
        std::vector<std::wstring> log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()), c.lastLines);
    }
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), committed), 0);
}

TEST_F(UpdateRun, ATransactionThatCannotBeginIsLoggedAndNeverEnded)
{
    ScriptTwoPatchesThreeTargets();
    fake.beginResult = ERROR_INSTALL_ALREADY_RUNNING;
    EXPECT_EQ(ApplyUpdates(folder, {}), 1618);
    EXPECT_EQ(fake.calls.back(), L"MsiBeginTransactionW(TessarvaneUpdater, 0)");
    EXPECT_TRUE(SequencedProducts().empty());
    EXPECT_EQ(Log().back(), L"Beginning MSI transaction failed with error=1618.");
}

// After a failed commit Windows Installer has ended the transaction itself; the
// documentation of MsiEndTransaction says a commit that fails leaves the installations
// incomplete, and a second MsiEndTransaction finds no transaction to end.
TEST_F(UpdateRun, AFailedCommitIsLoggedWithItsErrorNeverEndedAgainAndAsksNoRestartQuestion)
{
    struct Case {
        UINT commit;
        const wchar_t* after;
    };
    const Case cases[] = {
        {ERROR_INSTALL_FAILURE, L"Windows Installer rolled the MSI transaction back."},
        {ERROR_ROLLBACK_DISABLED, L"Windows Installer rolled the MSI transaction back as far as rollback was enabled."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commit);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        fake.windowsTransactions = true;
        fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
        fake.commitResult = c.commit;
        StatusWatcher watcher(true);
        EXPECT_EQ(ApplyUpdates(folder, watcher.get()), static_cast<int>(c.commit));
        EXPECT_TRUE(CallsStartingWith(question).empty());
        std::vector<std::wstring> tail(fake.calls.end() - 2, fake.calls.end());
        EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiEndTransaction(1)", L"MsiCloseHandle(transaction)"}));
        EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction").size(), 1u);
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
                  (std::vector<std::wstring>{
                      L"Committing MSI transaction failed with error=" + std::to_wstring(c.commit) + L".", c.after}));
        EXPECT_EQ(std::count(log.begin(), log.end(), L"MSI transaction rolled back."), 0)
            << "this run rolled nothing back";
        EXPECT_EQ(runRecord.failedStep, RunStep::Committing);
        EXPECT_EQ(runRecord.failureCode, c.commit);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status,
                  c.commit == ERROR_ROLLBACK_DISABLED ? PatchStatus::Applied : PatchStatus::RolledBack);
    }
}

// Inside a multiple-package transaction Windows never restarts by itself; a restart that
// the commit finds needed comes back from MsiEndTransaction as 3010 (REBOOT property and
// "Multiple-Package Installations" in Windows Installer's documentation).
TEST_F(UpdateRun, ACommitAnswering3010IsASuccessThatNeedsARestart)
{
    ScriptTwoPatchesThreeTargets();
    fake.windowsTransactions = true;
    fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED;
    StatusWatcher watcher;
    EXPECT_EQ(ApplyUpdates(folder, watcher.get()), 3010);
    EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"), std::vector<std::wstring>{L"MsiEndTransaction(1)"});
    EXPECT_EQ(CallsStartingWith(question), std::vector<std::wstring>{question});
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
              (std::vector<std::wstring>{committed, L"One or more of the updates installed require a reboot."}));

    ResetFake();
    ScriptTwoPatchesThreeTargets();
    fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED;
    EXPECT_EQ(ApplyUpdates(folder, {}), 3010) << "the exit code with nobody to ask";
    EXPECT_TRUE(CallsStartingWith(question).empty());
}

// "ScheduleReboot action" and "ForceReboot action" in Windows Installer's documentation:
// inside a multiple-package transaction the package with such an action is stopped and
// rolled back. Wine applies it and answers 3010 instead.
TEST_F(UpdateRun, APatchWithARestartActionFailsInsideTheTransactionOnWindowsAndAsksForARestartOnWine)
{
    for (bool windows : {true, false}) {
        SCOPED_TRACE(windows ? "Windows" : "Wine");
        ResetFake();
        fake.windowsTransactions = windows;
        fake.patches = {{L"a.msp", L"{A}"}};
        fake.patches[0].restartAction = true;
        fake.products[L"{A}"];
        EXPECT_EQ(ApplyUpdates(folder, {}), windows ? 1603 : 3010);
        std::vector<std::wstring> log = Log();
        if (windows) {
            EXPECT_EQ(
                std::vector<std::wstring>(log.end() - 2, log.end()),
                (std::vector<std::wstring>{L"MsiApplyPatch failed with error=1603", L"MSI transaction rolled back."}));
            EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Failed);
        } else {
            EXPECT_EQ(log.back(), L"One or more of the updates installed require a reboot.");
            EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
        }
    }
}

TEST_F(UpdateRun, ARollbackMarksWhatWasAppliedAsRolledBackAndTheRestAsNotAttempted)
{
    ScriptTwoPatchesThreeTargets();
    fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
    EXPECT_EQ(ApplyUpdates(folder, {}), 1603);
    EXPECT_EQ(SequencedProducts(), (std::vector<std::wstring>{L"{C}", L"{A}"}));
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::RolledBack);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Failed);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::NotAttempted);
    ASSERT_EQ(runRecord.products.size(), 3u);
    EXPECT_EQ(Pooled(runRecord.products[1].code), L"{B}");
    EXPECT_EQ(runRecord.products[1].installed, 0) << "not installed";
}

TEST_F(UpdateRun, TheResultIsTheCodeThatDeploymentToolsRead)
{
    struct Case {
        const char* what;
        void (*script)();
        int result;
    };
    const Case cases[] = {
        {"success", [] {}, 0},
        {"a patch asked for a restart",
         [] {
             fake.applyResults = {ERROR_SUCCESS, ERROR_SUCCESS_REBOOT_REQUIRED};
         },
         3010},
        {"a patch failed", [] { fake.applyResults = {ERROR_INSTALL_FAILURE}; }, 1603},
        {"another installation is in progress",
         [] {
             fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_ALREADY_RUNNING};
         },
         1618},
        {"a restart asked for, then a patch failed",
         [] {
             fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_INSTALL_FAILURE};
         },
         1603},
        {"the transaction cannot begin", [] { fake.beginResult = ERROR_INSTALL_SERVICE_FAILURE; }, 1601},
        {"the transaction cannot commit", [] { fake.commitResult = ERROR_ROLLBACK_DISABLED; }, 1653},
        {"the commit asks for a restart", [] { fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED; }, 3010},
        {"the commit fails after a restart was asked for",
         [] {
             fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
             fake.commitResult = ERROR_INSTALL_FAILURE;
         },
         1603},
        {"extraction", [] { fake.extractResult = 1; }, 1},
        {"a patch that cannot be read", [] { fake.patches[0].openResult = ERROR_PATCH_PACKAGE_INVALID; }, 1},
        {"a package that cannot be read", [] { fake.products[L"{A}"].summaryResult = ERROR_OPEN_FAILED; }, 1},
        {"sequencing", [] { fake.products[L"{A}"].sequenceResult = ERROR_PATCH_NO_SEQUENCE; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.script();
        EXPECT_EQ(ApplyUpdates(folder, {}), c.result);
    }
}

TEST_F(UpdateRun, TargetListsMakeOneKeyPerSpellingInCodeUnitOrder)
{
    // A listed twice, a trailing semicolon, an empty code, and {a} beside {A}.
    fake.patches = {{L"a.msp", L"{A};{A};{a};"}, {L"b.msp", L";{A}"}};
    fake.products[L"{A}"];
    fake.products[L"{a}"];
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);
    EXPECT_EQ(Log()[1], L"Product '' is not installed.") << "the empty code sorts first";
    EXPECT_EQ(CallsStartingWith(L"MsiDeterminePatchSequenceW"),
              (std::vector<std::wstring>{
                  L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\a.msp, C:\\work\\b.msp])",
                  L"MsiDeterminePatchSequenceW({a}, null, 4, [C:\\work\\a.msp])",
              }));
}

TEST_F(UpdateRun, AppliesTheX64GroupFirstEachInKeyOrder)
{
    fake.patches = {{L"a.msp", L"{A};{B};{C};{D}"}};
    fake.products[L"{A}"].packageTemplate = L"Intel;1033";
    fake.products[L"{B}"].packageTemplate = L"X64;1033";  // capitals are not the x64 platform
    fake.products[L"{C}"].packageTemplate = L"x64;1033";
    fake.products[L"{D}"].packageTemplate = L"Intel64,x64;1033";
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);
    EXPECT_EQ(SequencedProducts(), (std::vector<std::wstring>{L"{C}", L"{D}", L"{A}", L"{B}"}));
}

TEST_F(UpdateRun, NothingToApplyStillCommitsAnEmptyTransaction)
{
    const std::vector<FakePatch> tables[] = {{}, {{L"a.msp", L"{A};{B}"}}};
    for (const std::vector<FakePatch>& patches : tables) {
        ResetFake();
        fake.patches = patches;
        fake.products[L"{A}"].contexts = {};
        fake.products[L"{A}"].advertisedIn = {MSIINSTALLCONTEXT_USERUNMANAGED};
        EXPECT_EQ(ApplyUpdates(folder, {}), 0);
        std::vector<std::wstring> tail(fake.calls.end() - 3, fake.calls.end());
        EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiBeginTransactionW(TessarvaneUpdater, 0)",
                                                   L"MsiEndTransaction(1)", L"MsiCloseHandle(transaction)"}));
    }
    // A run whose only target is missing says so: its log alone does not read like a success.
    EXPECT_EQ(Log(), (std::vector<std::wstring>{L"Determining applicable patches.", committed,
                                                L"Determining applicable patches.", L"Product '{A}' is not installed.",
                                                L"Product '{B}' is not installed.", committed}));
}

// Whether anybody is asked, and what they must have kept first, is the watcher's: the window
// asks only in an interactive run and writes its reports before it answers Yes.
TEST_F(UpdateRun, ARestartIsAskedForOnlyOnceTheTransactionIsOverAndMadeOnlyOnYes)
{
    struct Case {
        const char* what;
        bool watched;
        bool answer;
        std::vector<std::wstring> afterCommit;
    };
    const Case cases[] = {
        {"nobody to ask", false, true, {}},
        {"No", true, false, {question}},
        {"Yes",
         true,
         true,
         {question, L"OpenProcessToken(current, 0x00000028)", L"LookupPrivilegeValueW(null, SeShutdownPrivilege)",
          L"AdjustTokenPrivileges(token, 0, 1 x luid 19:0 attributes 2, 0, null, null)",
          L"ExitWindowsEx(2, 0x80040001)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        fake.patches = {{L"a.msp", L"{A}"}};
        fake.products[L"{A}"];
        fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
        StatusWatcher watcher(c.answer);
        EXPECT_EQ(ApplyUpdates(folder, c.watched ? watcher.get() : UpdateProgress()), 3010) << "whatever the answer";
        auto commit = std::find(fake.calls.begin(), fake.calls.end(), L"MsiEndTransaction(1)");
        ASSERT_NE(commit, fake.calls.end());
        ASSERT_EQ(commit[1].compare(0, 19, L"MsiGetPatchInfoExW("), 0) << "the check follows the commit";
        ASSERT_EQ(commit[2], L"MsiCloseHandle(transaction)") << "the transaction is over before the question";
        std::vector<std::wstring> after(commit + 3, fake.calls.end());
        EXPECT_EQ(after, c.afterCommit);
        std::vector<std::wstring> log = Log();
        auto reboot = std::find(log.begin(), log.end(), L"One or more of the updates installed require a reboot.");
        ASSERT_NE(reboot, log.end());
        EXPECT_EQ(reboot[-1], committed);
    }
}

TEST_F(UpdateRun, PatchesEachContextAProductIsInstalledInMachineFirst)
{
    fake.patches = {{L"a.msp", L"{A};{B};{C}"}};
    // {A} per-user only; {B} per-machine and per-user; {C} advertised per-user and
    // installed per-machine. All are x86 packages, so only the contexts order them.
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{B}"].contexts = {MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_MACHINE};
    fake.products[L"{C}"].advertisedIn = {MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{A}"].name = L"Product A";
    // {B}'s machine installation is left unpatched by Windows Installer (see below).
    EXPECT_EQ(ApplyUpdates(folder, {}), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(CallsStartingWith(L"MsiDeterminePatchSequenceW"),
              (std::vector<std::wstring>{
                  L"MsiDeterminePatchSequenceW({A}, null, 2, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({B}, null, 4, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({B}, null, 2, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({C}, null, 4, [C:\\work\\a.msp])",
              }));
    EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW({A}, 2, LocalPackage").size(), 2u);
    EXPECT_EQ(CallsStartingWith(L"MsiGetSummaryInformationW(0, C:\\users\\cache\\{A}-2.msi, 0)").size(), 1u);
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Product 'Product A' is installed per-user."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Product '{B}' is installed per-machine."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Product '{B}' is installed per-user."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Product '{C}' is installed per-user."), 0) << "advertised only";
}

TEST_F(UpdateRun, APerUserX64InstallationGoesBeforeAPerMachineX86OneOfTheSameProduct)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{A}"].contextTemplates[MSIINSTALLCONTEXT_USERUNMANAGED] = L"x64;1033";
    EXPECT_EQ(ApplyUpdates(folder, {}), ERROR_INSTALL_FAILURE) << "the machine's installation stays unpatched";
    EXPECT_EQ(CallsStartingWith(L"MsiDeterminePatchSequenceW"),
              (std::vector<std::wstring>{
                  L"MsiDeterminePatchSequenceW({A}, null, 2, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp])",
              }));
}

TEST_F(UpdateRun, AProductInTwoContextsOfOneAccountIsPatchedInOneAndTheCheckAfterTheCommitFailsTheRun)
{
    // MsiApplyPatchW takes no context: Windows Installer patches the running account's
    // installation it finds first (user-managed, user-unmanaged, machine), so the second
    // call for the machine's installation patches the per-user one again.
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{A}"].name = L"Product A";
    fake.windowsTransactions = true;
    EXPECT_EQ(ApplyUpdates(folder, {}), ERROR_INSTALL_FAILURE);

    // The second installation then looks patched already.
    EXPECT_EQ(CallsStartingWith(L"MsiApplyPatchW").size(), 1u);
    EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"), std::vector<std::wstring>{L"MsiEndTransaction(1)"})
        << "the check comes after the commit and does not touch the transaction";
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(log.back(),
              L"Windows Installer does not list update 'a.msp' as installed for 'Product A' "
              L"(per-machine) after the commit.");
    EXPECT_EQ(std::count(log.begin(), log.end(), committed), 0) << "the run did not succeed";
    ASSERT_EQ(runRecord.products.size(), 2u);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotRegistered);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).patchState, -1);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_USERUNMANAGED, 0).status, PatchStatus::AlreadyApplied);
    EXPECT_EQ(runRecord.failedStep, RunStep::Verifying);
    EXPECT_EQ(runRecord.failureCode, 1603u);
}

TEST_F(UpdateRun, APatchListedAsAppliedSupersededOrObsoleteAfterTheCommitPassesTheCheck)
{
    fake.patches = {{L"a.msp", L"{A}"}, {L"b.msp", L"{B}"}, {L"c.msp", L"{C}"}};
    for (const wchar_t* code : {L"{A}", L"{B}", L"{C}"})
        fake.products[code];
    // A later patch of the same run may supersede or make obsolete one applied before it.
    fake.patchStates[AppliedKey(FakePatchCode(fake.patches[1]), L"{B}", MSIINSTALLCONTEXT_MACHINE)] = L"2";
    fake.patchStates[AppliedKey(FakePatchCode(fake.patches[2]), L"{C}", MSIINSTALLCONTEXT_MACHINE)] = L"4";
    // Listed so only once applied: before, b and c are not listed at all.
    fake.patchStates.swap(fake.patchStatesOnceApplied);
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);
    EXPECT_EQ(CallsStartingWith(L"MsiApplyPatchW").size(), 3u);
    EXPECT_EQ(Log().back(), committed);
}

TEST_F(UpdateRun, AnotherAccountsPerUserInstallationIsListedAndLeftAloneAndTheRunStillSucceeds)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    FakeProduct& a = fake.products[L"{A}"];
    a.name = L"Product A";
    a.otherAccounts = {
        {MSIINSTALLCONTEXT_USERUNMANAGED, L"S-1-5-21-7-7-7-1001"},
        {MSIINSTALLCONTEXT_USERMANAGED, L"S-1-5-21-7-7-7-1002", L"1"},  // advertised only
        {MSIINSTALLCONTEXT_USERMANAGED, L"S-1-5-21-7-7-7-1003", L""},   // state unreadable, as on Wine
    };
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);

    EXPECT_EQ(CallsStartingWith(L"MsiApplyPatchW").size(), 1u) << "the machine's installation only";
    EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW({A}, S-1-5-21-7-7-7-1001, 2, State").size(), 1u);
    std::vector<std::wstring> log = Log();
    const wchar_t* lines[] = {
        L"Product '{A}' is installed per-user for another account (S-1-5-21-7-7-7-1001); this run cannot patch it.",
        L"Product '{A}' is installed per-user for another account (S-1-5-21-7-7-7-1003); this run cannot patch it.",
    };
    for (const wchar_t* line : lines)
        EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << testing::PrintToString(std::wstring(line));
    EXPECT_EQ(log.back(), committed);

    // The machine's installation first, then the two listed ones, each with its account.
    ASSERT_EQ(runRecord.products.size(), 3u);
    EXPECT_FALSE(runRecord.products[0].otherAccount);
    EXPECT_EQ(runRecord.patches[runRecord.products[0].firstPatch].status, PatchStatus::Applied);
    const wchar_t* sids[] = {L"S-1-5-21-7-7-7-1001", L"S-1-5-21-7-7-7-1003"};
    for (size_t i = 1; i < 3; ++i) {
        const ProductRecord& other = runRecord.products[i];
        EXPECT_TRUE(other.otherAccount);
        EXPECT_EQ(Pooled(other.userSid), sids[i - 1]);
        EXPECT_EQ(runRecord.patches[other.firstPatch].status, PatchStatus::OtherAccount);
    }
}

TEST_F(UpdateRun, AnInstallationListThatCannotBeReadEndsTheRunBeforeAnyTransaction)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.products[L"{A}"];
    fake.enumerateResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ApplyUpdates(folder, {}), 1);
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(Log().back(), L"Listing the installed products failed with error=5.");
}

TEST_F(UpdateRun, ASecondRunFindsEveryPatchAppliedAppliesNothingAndCommitsAnEmptyTransaction)
{
    ScriptTwoPatchesThreeTargets();
    fake.patches[0].revision = L"{AAAAAAAA-0000-0000-0000-000000000001}";
    // A patch code followed by the code of a patch it supersedes.
    fake.patches[1].revision = L"{BBBBBBBB-0000-0000-0000-000000000002}{AAAAAAAA-0000-0000-0000-000000000009}";
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);
    // Applied for {C}, b.msp is registered for every installed target, {A} included, as
    // MsiApplyPatchW without a product package does; {A}'s turn then passes over it.
    EXPECT_EQ(CallsStartingWith(L"MsiApplyPatchW"), (std::vector<std::wstring>{Apply(L"b.msp"), Apply(L"a.msp")}));
    size_t firstRunLines = Log().size();

    fake.calls.clear();
    ResetRunRecord();  // as in a second process
    EXPECT_EQ(ApplyUpdates(folder, {}), 0);
    EXPECT_TRUE(CallsStartingWith(L"MsiApplyPatchW").empty());
    EXPECT_EQ(CallsStartingWith(L"MsiGetPatchInfoExW({BBBBBBBB-0000-0000-0000-000000000002}, {C}, 4, State)").size(),
              1u);
    std::vector<std::wstring> tail(fake.calls.end() - 2, fake.calls.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiEndTransaction(1)", L"MsiCloseHandle(transaction)"}));
    std::vector<std::wstring> log = Log();
    log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(firstRunLines));
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Update 'b.msp' is already installed for 'Product C'."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Update 'b.msp' is already installed for 'Product A'."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Update 'a.msp' is already installed for 'Product A'."), 1);
    EXPECT_EQ(log.back(), committed);
    for (const ProductRecord& product : runRecord.products) {
        for (uint32_t j = 0; product.installed == 1 && j < product.patchCount; ++j)
            EXPECT_EQ(runRecord.patches[product.firstPatch + j].status, PatchStatus::AlreadyApplied);
    }
}

namespace {

std::vector<PatchStatus> Statuses()
{
    std::vector<PatchStatus> statuses;
    for (const PatchRecord& patch : runRecord.patches)
        statuses.push_back(patch.status);
    return statuses;
}

}  // namespace

// {C} (x64) goes first and its patch applies; then {A}'s first patch fails, its second was
// not applicable, and the rollback takes back {C}'s patch. {B} is not installed; {A} is also
// installed per user, an installation the run never reached.
TEST_F(UpdateRun, ReportsEveryPatchAndInstallationToTheRunsRecord)
{
    ScriptTwoPatchesThreeTargets();
    fake.patches[0].revision = L"{11111111-2222-3333-4444-555555555555}{99999999-2222-3333-4444-555555555555}";
    fake.patches[1].revision = L"not a GUID";
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{A}"].sequence = {{0, 0}, {1642, 0xFFFFFFFF}};
    fake.applyResults = {ERROR_SUCCESS, 1603};
    EXPECT_EQ(ApplyUpdates(folder, {}), 1603);

    ASSERT_EQ(runRecord.files.size(), 2u);
    EXPECT_STREQ(runRecord.files[0].patchCode, L"{11111111-2222-3333-4444-555555555555}");
    EXPECT_STREQ(runRecord.files[1].patchCode, L"");
    EXPECT_EQ(Pooled(runRecord.files[1].targets), L"{C};{A}");
    std::vector<std::wstring> codes, names;
    std::vector<int> installed, platforms;
    std::vector<DWORD> contexts;
    for (const ProductRecord& product : runRecord.products) {
        codes.push_back(Pooled(product.code));
        names.push_back(Pooled(product.displayName));
        installed.push_back(product.installed);
        platforms.push_back(product.platform);
        contexts.push_back(product.context);
    }
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"{A}", L"{B}", L"{C}", L"{A}"}));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Product A", L"", L"Product C", L""}));
    EXPECT_EQ(installed, (std::vector<int>{1, 0, 1, 1}));
    EXPECT_EQ(platforms, (std::vector<int>{32, 0, 64, 32}));
    EXPECT_EQ(contexts, (std::vector<DWORD>{MSIINSTALLCONTEXT_MACHINE, 0, MSIINSTALLCONTEXT_MACHINE,
                                            MSIINSTALLCONTEXT_USERUNMANAGED}));
    // In record order: {A} a.msp, b.msp; {B} a.msp; {C} b.msp; {A} per user a.msp, b.msp.
    EXPECT_EQ(Statuses(), (std::vector<PatchStatus>{PatchStatus::Failed, PatchStatus::NotApplicable,
                                                    PatchStatus::NotApplicable, PatchStatus::RolledBack,
                                                    PatchStatus::NotAttempted, PatchStatus::NotAttempted}));
    EXPECT_EQ(runRecord.patches[0].resultCode, 1603u);
    EXPECT_EQ(runRecord.patches[1].resultCode, 1642u);
    EXPECT_FALSE(runRecord.patches[2].hasResult);
    EXPECT_EQ(runRecord.failedStep, RunStep::Applying);
    EXPECT_EQ(runRecord.failureCode, 1603u);
    EXPECT_EQ(Pooled(runRecord.failureMessage), L"MsiApplyPatch failed with error=1603");
}

TEST_F(UpdateRun, RecordsTheStepThatStoppedTheRun)
{
    struct Case {
        const char* what;
        void (*script)();
        RunStep step;
        uint32_t code;
    } cases[] = {
        {"patch", [] { fake.patches[1].openResult = 1627; }, RunStep::ReadingPatch, 1627},
        {"package", [] { fake.products[L"{C}"].summaryResult = 1610; }, RunStep::ReadingProduct, 1610},
        {"listing", [] { fake.enumerateResult = ERROR_ACCESS_DENIED; }, RunStep::ReadingProduct, 5},
        {"begin", [] { fake.beginResult = 1632; }, RunStep::Beginning, 1632},
        {"sequence", [] { fake.products[L"{C}"].sequenceResult = 1648; }, RunStep::Sequencing, 1648},
        {"commit", [] { fake.commitResult = 1619; }, RunStep::Committing, 1619},
        // A patch without a code cannot be found registered after the commit.
        {"check", [] { fake.patches[0].revision = L"-"; }, RunStep::Verifying, 1603},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ResetAppState();
        ScriptTwoPatchesThreeTargets();
        c.script();
        EXPECT_NE(ApplyUpdates(folder, {}), 0);
        EXPECT_EQ(runRecord.failedStep, c.step);
        EXPECT_EQ(runRecord.failureCode, c.code);
        EXPECT_FALSE(Pooled(runRecord.failureMessage).empty());
    }
}
