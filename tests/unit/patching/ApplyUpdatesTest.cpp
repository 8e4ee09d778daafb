// The update run: target lists, the installed test and the platform groups, the
// transaction around every product with its commit or rollback, the failures before and
// inside it with their log lines and result codes, and the restart question.
#include <gtest/gtest.h>

#include "AppState.h"
#include "ApplyUpdates.h"
#include "Fakes.h"
#include "Log.h"
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

std::wstring Apply(const std::wstring& file)
{
    return L"MsiApplyPatchW(C:\\work\\" + file + L", null, 0, REINSTALL=ALL REINSTALLMODE=omus)";
}

const wchar_t committed[] = L"All updates applied successfully and MSI transaction committed.";
const wchar_t question[] =
    L"MessageBoxW(window, Product updates successfully applied, but a reboot is required. Would you like to reboot "
    L"now?, Tessarvane Updater - Reboot Required, 4)";

}  // namespace

TEST_F(UpdateRun, MakesEveryCallInOrderAndClosesEveryHandle)
{
    ScriptTwoPatchesThreeTargets();
    StatusWindow window;
    EXPECT_EQ(ApplyUpdates(folder, window.get()), 0);

    std::wstring verbose = L"C:\\work\\TessarvaneUpdater-verbose-";  // in the working folder
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{
                              L"ExtractUpdates(C:\\work)",
                              L"MsiOpenDatabaseW(C:\\work\\a.msp, 32)",
                              L"MsiGetSummaryInformationW(database:a.msp, null, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 8)",
                              L"MsiCloseHandle(summary:a.msp)",
                              L"MsiCloseHandle(database:a.msp)",
                              L"MsiOpenDatabaseW(C:\\work\\b.msp, 32)",
                              L"MsiGetSummaryInformationW(database:b.msp, null, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 8)",
                              L"MsiCloseHandle(summary:b.msp)",
                              L"MsiCloseHandle(database:b.msp)",
                              L"MsiQueryProductStateW({A})",
                              L"MsiGetProductInfoW({A}, LocalPackage, 0)",
                              L"MsiGetProductInfoW({A}, LocalPackage, 17)",
                              L"MsiGetSummaryInformationW(0, C:\\cache\\{A}.msi, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 11)",
                              L"MsiCloseHandle(summary:C:\\cache\\{A}.msi)",
                              L"MsiQueryProductStateW({B})",
                              L"MsiQueryProductStateW({C})",
                              L"MsiGetProductInfoW({C}, LocalPackage, 0)",
                              L"MsiGetProductInfoW({C}, LocalPackage, 17)",
                              L"MsiGetSummaryInformationW(0, C:\\cache\\{C}.msi, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 0)",
                              L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 9)",
                              L"MsiCloseHandle(summary:C:\\cache\\{C}.msi)",
                              L"MsiBeginTransactionW(TessarvaneUpdater, 0)",
                              L"MsiGetProductInfoW({C}, InstalledProductName, 0)",
                              L"MsiGetProductInfoW({C}, InstalledProductName, 10)",
                              L"MsiDeterminePatchSequenceW({C}, null, 4, [C:\\work\\b.msp])",
                              L"MsiSetInternalUI(2, null)",
                              L"MsiEnableLogW(4096, " + verbose + L"1.log, 0)",
                              Apply(L"b.msp"),
                              L"free(C:\\work\\b.msp)",
                              L"MsiGetProductInfoW({A}, InstalledProductName, 0)",
                              L"MsiGetProductInfoW({A}, InstalledProductName, 10)",
                              L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\b.msp])",
                              L"MsiSetInternalUI(2, null)",
                              L"MsiEnableLogW(4096, " + verbose + L"2.log, 0)",
                              Apply(L"a.msp"),
                              L"MsiEnableLogW(4096, " + verbose + L"3.log, 0)",
                              Apply(L"b.msp"),
                              L"free(C:\\work\\a.msp)",
                              L"free(C:\\work\\b.msp)",
                              L"MsiEndTransaction(1)",
                              L"MsiCloseHandle(transaction)",
                          }));
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         L"Determining applicable patches.",
                         L"Determining update application order for product 'Product C'.",
                         L"Installing update 'b.msp' for 'Product C'.",
                         L"MsiApplyPatch succeeded.",
                         L"Determining update application order for product 'Product A'.",
                         L"Installing update 'a.msp' for 'Product A'.",
                         L"MsiApplyPatch succeeded.",
                         L"Installing update 'b.msp' for 'Product A'.",
                         L"MsiApplyPatch succeeded.",
                         committed,
                     }));
    EXPECT_EQ(window.texts().size(), 3u);
}

TEST_F(UpdateRun, ANullOrEmptyFolderOrAFailedExtractionEndsTheRun)
{
    EXPECT_EQ(ApplyUpdates(nullptr, nullptr), 1);
    EXPECT_EQ(ApplyUpdates(L"", nullptr), 1);
    EXPECT_TRUE(fake.calls.empty());

    fake.extractResult = 1;
    EXPECT_EQ(ApplyUpdates(folder, nullptr), 1);
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
         L"MsiGetSummaryInformationW(database:a.msp", L"Reading the target products of patch 'a.msp' failed with error=6."},
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
         L"MsiGetProductInfoW({C}, LocalPackage, 0)",
         L"Reading the installed package of product '{C}' failed with error=1608."},
        {"package read", [] { fake.products[L"{A}"].packageReadResult = ERROR_MORE_DATA; },
         L"MsiGetProductInfoW({A}, LocalPackage, 17)",
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
        EXPECT_EQ(ApplyUpdates(folder, nullptr), 1);
        EXPECT_TRUE(fake.openHandles.empty());
        size_t last = fake.calls.size();
        while (last > 0 && fake.calls[last - 1].compare(0, 15, L"MsiCloseHandle(") == 0)
            --last;
        ASSERT_GT(last, 0u);
        EXPECT_EQ(fake.calls[last - 1].compare(0, wcslen(c.lastCall), c.lastCall), 0) << "last: "
            << testing::PrintToString(fake.calls[last - 1]);
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty()) << "no transaction, nothing to roll back";

        // Exactly one new line names the file or product and the error; while grouping, it
        // follows the line that opens that phase.
        std::vector<std::wstring> log = Log();
        ASSERT_GT(log.size(), logged);
        EXPECT_EQ(log.back(), c.logLine);
        bool grouping = CallsStartingWith(L"MsiQueryProductStateW").size() > 0;
        EXPECT_EQ(log.size() - logged, grouping ? 2u : 1u);
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
        {"x64 product fails", [] { fake.products[L"{C}"].sequenceResult = ERROR_FUNCTION_FAILED; }, {L"{C}"},
         {L"MsiDeterminePatchSequence failed with error=1627", L"MSI transaction rolled back."}},
        {"second product, the first of the x86 group, fails",
         [] { fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE}; }, {L"{C}", L"{A}"},
         {L"MsiApplyPatch failed with error=1603", L"MSI transaction rolled back."}},
        {"the rollback itself fails",
         [] {
             fake.applyResults = {ERROR_INSTALL_FAILURE};
             fake.rollbackResult = ERROR_INSTALL_FAILURE;
         },
         {L"{C}"}, {L"MsiApplyPatch failed with error=1603", L"Rolling back MSI transaction failed with error=1603."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_NE(ApplyUpdates(folder, nullptr), 0);
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
    EXPECT_EQ(ApplyUpdates(folder, nullptr), 1618);
    EXPECT_EQ(fake.calls.back(), L"MsiBeginTransactionW(TessarvaneUpdater, 0)");
    EXPECT_TRUE(SequencedProducts().empty());
    EXPECT_EQ(Log().back(), L"Beginning MSI transaction failed with error=1618.");
}

TEST_F(UpdateRun, AFailedCommitIsLoggedRolledBackAndAsksNoRestartQuestion)
{
    ScriptTwoPatchesThreeTargets();
    fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
    fake.commitResult = ERROR_INSTALL_FAILURE;
    StatusWindow window;
    EXPECT_EQ(ApplyUpdates(folder, window.get()), 1603);
    EXPECT_TRUE(CallsStartingWith(L"MessageBoxW").empty());
    std::vector<std::wstring> tail(fake.calls.end() - 3, fake.calls.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiEndTransaction(1)", L"MsiEndTransaction(0)",
                                               L"MsiCloseHandle(transaction)"}));
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
              (std::vector<std::wstring>{L"Committing MSI transaction failed.", L"MSI transaction rolled back."}));
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
        {"a patch asked for a restart", [] { fake.applyResults = {ERROR_SUCCESS, ERROR_SUCCESS_REBOOT_REQUIRED}; },
         3010},
        {"a patch failed", [] { fake.applyResults = {ERROR_INSTALL_FAILURE}; }, 1603},
        {"another installation is in progress", [] { fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_ALREADY_RUNNING}; },
         1618},
        {"a restart asked for, then a patch failed",
         [] { fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_INSTALL_FAILURE}; }, 1603},
        {"the transaction cannot begin", [] { fake.beginResult = ERROR_INSTALL_SERVICE_FAILURE; }, 1601},
        {"the transaction cannot commit", [] { fake.commitResult = ERROR_ROLLBACK_DISABLED; }, 1653},
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
        EXPECT_EQ(ApplyUpdates(folder, nullptr), c.result);
    }
}

TEST_F(UpdateRun, TargetListsMakeOneKeyPerSpellingInCodeUnitOrder)
{
    // A listed twice, a trailing semicolon, an empty code, and {a} beside {A}.
    fake.patches = {{L"a.msp", L"{A};{A};{a};"}, {L"b.msp", L";{A}"}};
    fake.products[L"{A}"];
    fake.products[L"{a}"];
    EXPECT_EQ(ApplyUpdates(folder, nullptr), 0);
    EXPECT_EQ(CallsStartingWith(L"MsiQueryProductStateW"), (std::vector<std::wstring>{
                                                               L"MsiQueryProductStateW()",
                                                               L"MsiQueryProductStateW({A})",
                                                               L"MsiQueryProductStateW({a})",
                                                           }));
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
    EXPECT_EQ(ApplyUpdates(folder, nullptr), 0);
    EXPECT_EQ(SequencedProducts(), (std::vector<std::wstring>{L"{C}", L"{D}", L"{A}", L"{B}"}));
}

TEST_F(UpdateRun, NothingToApplyStillCommitsAnEmptyTransaction)
{
    const std::vector<FakePatch> tables[] = {{}, {{L"a.msp", L"{A};{B}"}}};
    for (const std::vector<FakePatch>& patches : tables) {
        ResetFake();
        fake.patches = patches;
        fake.products[L"{A}"].state = INSTALLSTATE_ADVERTISED;
        EXPECT_EQ(ApplyUpdates(folder, nullptr), 0);
        std::vector<std::wstring> tail(fake.calls.end() - 3, fake.calls.end());
        EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiBeginTransactionW(TessarvaneUpdater, 0)",
                                                   L"MsiEndTransaction(1)", L"MsiCloseHandle(transaction)"}));
    }
    EXPECT_EQ(Log(), (std::vector<std::wstring>{L"Determining applicable patches.", committed,
                                                L"Determining applicable patches.", committed}));
}

TEST_F(UpdateRun, ARestartIsOfferedOnlyInteractivelyWithAWindowAndMadeOnlyOnYes)
{
    struct Case {
        const char* what;
        RunMode mode;
        bool window;
        int answer;
        std::vector<std::wstring> afterCommit;
    };
    const Case cases[] = {
        {"no window", RunMode::Interactive, false, IDYES, {}},
        {"No", RunMode::Interactive, true, IDNO, {question}},
        {"Yes", RunMode::Interactive, true, IDYES,
         {question, L"OpenProcessToken(current, 0x00000028)", L"LookupPrivilegeValueW(null, SeShutdownPrivilege)",
          L"AdjustTokenPrivileges(token, 0, 1 x luid 19:0 attributes 2, 0, null, null)",
          L"ExitWindowsEx(2, 0x80040001)"}},
        {"unattended, nobody to answer", RunMode::Unattended, true, IDYES, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        appState.runMode = c.mode;
        fake.patches = {{L"a.msp", L"{A}"}};
        fake.products[L"{A}"];
        fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
        fake.messageBoxAnswer = c.answer;
        StatusWindow window;
        EXPECT_EQ(ApplyUpdates(folder, c.window ? window.get() : nullptr), 3010) << "whatever the answer";
        auto commit = std::find(fake.calls.begin(), fake.calls.end(), L"MsiEndTransaction(1)");
        ASSERT_NE(commit, fake.calls.end());
        std::vector<std::wstring> after(commit + 1, fake.calls.end() - 1);
        EXPECT_EQ(after, c.afterCommit);
        EXPECT_EQ(fake.calls.back(), L"MsiCloseHandle(transaction)");
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(log.back(), L"One or more of the updates installed require a reboot.");
        EXPECT_EQ(log[log.size() - 2], committed);
    }
}
