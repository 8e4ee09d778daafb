// The update run: target lists, the installed test and the platform groups, the
// transaction around every product, the failures before and inside it, and the restart
// question.
#include <gtest/gtest.h>

#include "AppState.h"
#include "ApplyUpdates.h"
#include "Fakes.h"
#include "Log.h"
#include "TestFiles.h"

namespace {

const wchar_t folder[] = L"C:\\work";

class UpdateRun : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        ResetAppState();
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

    std::wstring logFolder = appState.logFolder;
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
                              L"MsiEnableLogW(4096, " + logFolder + L"b.msp {C}.log, 0)",
                              Apply(L"b.msp"),
                              L"free(C:\\work\\b.msp)",
                              L"MsiGetProductInfoW({A}, InstalledProductName, 0)",
                              L"MsiGetProductInfoW({A}, InstalledProductName, 10)",
                              L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\b.msp])",
                              L"MsiSetInternalUI(2, null)",
                              L"MsiEnableLogW(4096, " + logFolder + L"a.msp {A}.log, 0)",
                              Apply(L"a.msp"),
                              L"MsiEnableLogW(4096, " + logFolder + L"b.msp {A}.log, 0)",
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

TEST_F(UpdateRun, AnUnreadablePatchOrPackageEndsTheRunBeforeAnyTransaction)
{
    struct Case {
        const char* what;
        void (*spoil)();
        const wchar_t* lastCall;  // only closes follow it
        bool grouping;            // failed while testing the installed targets
    };
    const Case cases[] = {
        {"patch not opened", [] { fake.patches[1].openResult = ERROR_OPEN_FAILED; },
         L"MsiOpenDatabaseW(C:\\work\\b.msp, 32)", false},
        {"patch summary", [] { fake.patches[0].summaryResult = ERROR_INVALID_HANDLE; },
         L"MsiGetSummaryInformationW(database:a.msp", false},
        {"patch size query answers 0", [] { fake.patches[0].sizeResult = ERROR_SUCCESS; },
         L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)", false},
        {"patch size query fails", [] { fake.patches[0].sizeResult = ERROR_INVALID_PARAMETER; },
         L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)", false},
        {"patch read", [] { fake.patches[1].readResult = ERROR_MORE_DATA; },
         L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 8)", false},
        {"package size query", [] { fake.products[L"{C}"].packageSizeResult = ERROR_UNKNOWN_PROPERTY; },
         L"MsiGetProductInfoW({C}, LocalPackage, 0)", true},
        {"package read", [] { fake.products[L"{A}"].packageReadResult = ERROR_MORE_DATA; },
         L"MsiGetProductInfoW({A}, LocalPackage, 17)", true},
        {"package summary", [] { fake.products[L"{C}"].summaryResult = ERROR_OPEN_FAILED; },
         L"MsiGetSummaryInformationW(0, C:\\cache\\{C}.msi, 0)", true},
        {"template size query answers 0", [] { fake.products[L"{A}"].templateSizeResult = ERROR_SUCCESS; },
         L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{A}.msi, 7, 0)", true},
        {"template read", [] { fake.products[L"{C}"].templateReadResult = ERROR_INVALID_PARAMETER; },
         L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 9)", true},
    };
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
    }
    // Only the product phase logs its first line; nothing else is logged by either phase.
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(log, std::vector<std::wstring>(5, L"Determining applicable patches."));
}

TEST_F(UpdateRun, AFailureInsideTheTransactionLeavesItUnended)
{
    struct Case {
        const char* what;
        void (*spoil)();
        std::vector<std::wstring> sequenced;
    };
    const Case cases[] = {
        {"transaction not begun", [] { fake.beginResult = ERROR_INSTALL_SERVICE_FAILURE; }, {}},
        {"x64 product fails", [] { fake.products[L"{C}"].sequenceResult = ERROR_FUNCTION_FAILED; }, {L"{C}"}},
        {"first x86 product fails after the x64 group",
         [] { fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE}; }, {L"{C}", L"{A}"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_EQ(ApplyUpdates(folder, nullptr), 1);
        EXPECT_EQ(SequencedProducts(), c.sequenced);
        EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty());
        EXPECT_EQ(fake.calls.back(), c.sequenced.empty() ? std::wstring(L"MsiBeginTransactionW(TessarvaneUpdater, 0)")
                                                         : std::wstring(L"MsiCloseHandle(transaction)"));
    }
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(log.back(), L"MsiApplyPatch failed with error=1603");
    EXPECT_EQ(std::count(log.begin(), log.end(), committed), 0);
}

TEST_F(UpdateRun, AFailedCommitIsLoggedAndAsksNoRestartQuestion)
{
    ScriptTwoPatchesThreeTargets();
    fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
    fake.endResult = ERROR_INSTALL_FAILURE;
    StatusWindow window;
    EXPECT_EQ(ApplyUpdates(folder, window.get()), 1);
    EXPECT_TRUE(CallsStartingWith(L"MessageBoxW").empty());
    EXPECT_EQ(fake.calls.back(), L"MsiCloseHandle(transaction)");
    EXPECT_EQ(Log().back(), L"Committing MSI transaction failed.");
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

TEST_F(UpdateRun, ARestartIsOfferedOnlyWithAWindowAndMadeOnlyOnYes)
{
    struct Case {
        const char* what;
        bool window;
        int answer;
        std::vector<std::wstring> afterCommit;
    };
    const Case cases[] = {
        {"no window", false, IDYES, {}},
        {"No", true, IDNO, {question}},
        {"Yes", true, IDYES,
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
        fake.messageBoxAnswer = c.answer;
        StatusWindow window;
        EXPECT_EQ(ApplyUpdates(folder, c.window ? window.get() : nullptr), 0);
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
