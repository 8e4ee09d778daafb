// The update run against Windows Installer as its documentation answers: target lists, the
// installation that Windows Installer patches and the platform groups, every installation
// ordered and checked before anything changes, the transaction around every product (only
// when there is something to apply) with its commit or rollback, the installations that must
// go on their own, the failures before, inside and after it with their log lines and result
// codes, and the restart question. Each test that stands for a documented answer names its page.
#include <gtest/gtest.h>

#include <algorithm>

#include "UpdateRunFixture.h"

TEST_F(UpdateRun, MakesEveryCallInOrderAndClosesEveryHandle)
{
    ScriptTwoPatchesThreeTargets();
    StatusWatcher watcher;
    EXPECT_EQ(RunUpdates(watcher.get()), 0);

    std::wstring verbose = L"C:\\work\\TessarvaneUpdater-verbose-";  // in the working folder
    std::wstring a = FakePatchCode(fake.patches[0]);
    std::wstring b = FakePatchCode(fake.patches[1]);
    std::vector<std::wstring> package[2];
    const wchar_t* codes[] = {L"{A}", L"{C}"};
    for (int i = 0; i < 2; ++i) {
        std::wstring path = L"C:\\cache\\" + std::wstring(codes[i]) + L".msi";
        package[i] = {
            L"MsiGetProductInfoExW(" + std::wstring(codes[i]) + L", 4, State, 16)",
            L"MsiGetProductInfoExW(" + std::wstring(codes[i]) + L", 4, LocalPackage, 0)",
            L"MsiGetProductInfoExW(" + std::wstring(codes[i]) + L", 4, LocalPackage, 17)",
            L"MsiOpenDatabaseW(" + path + L", 0)",
            L"MsiGetSummaryInformationW(package:" + path + L", null, 0)",
            L"MsiSummaryInfoGetPropertyW(summary:" + path + L", 7, 0)",
            L"MsiSummaryInfoGetPropertyW(summary:" + path + L", 7, " + (i == 0 ? L"11)" : L"9)"),
            L"MsiCloseHandle(summary:" + path + L")",
            L"MsiDatabaseOpenViewW(package:" + path + L", restart actions)",
            L"MsiViewExecute(view:" + path + L", 0)",
            L"MsiViewFetch(view:" + path + L")",
            L"MsiCloseHandle(view:" + path + L")",
            L"MsiCloseHandle(package:" + path + L")",
        };
    }
    std::vector<std::wstring> expected = {
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
    };
    expected.insert(expected.end(), package[0].begin(), package[0].end());
    expected.insert(expected.end(), package[1].begin(), package[1].end());
    std::vector<std::wstring> rest = {
        // Each installation ordered and checked before anything changes, the x64 one first.
        L"MsiGetProductInfoExW({C}, 4, InstalledProductName, 0)",
        L"MsiGetProductInfoExW({C}, 4, InstalledProductName, 10)",
        L"MsiDeterminePatchSequenceW({C}, null, 4, [C:\\work\\b.msp])",
        L"MsiGetPatchInfoExW(" + b + L", {C}, 4, State)",
        L"free(C:\\work\\b.msp)",
        L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 0)",
        L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 10)",
        L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\b.msp])",
        L"MsiGetPatchInfoExW(" + a + L", {A}, 4, State)",
        L"MsiGetPatchInfoExW(" + b + L", {A}, 4, State)",
        L"free(C:\\work\\a.msp)",
        L"free(C:\\work\\b.msp)",
        L"MsiSetInternalUI(2, null)",
        L"MsiBeginTransactionW(TessarvaneUpdater, 0)",
        // b.msp names {A} too, and is applied to each of its products on its own.
        L"MsiEnableLogW(4096, " + verbose + L"1.log, 0)",
        Apply(L"b.msp", L"{C}"),
        L"MsiEnableLogW(4096, " + verbose + L"2.log, 0)",
        Apply(L"a.msp", L"{A}"),
        L"MsiEnableLogW(4096, " + verbose + L"3.log, 0)",
        Apply(L"b.msp", L"{A}"),
        L"MsiEndTransaction(1)",
        // Each patch the run applied, checked once committed.
        L"MsiGetPatchInfoExW(" + b + L", {C}, 4, State)",
        L"MsiGetPatchInfoExW(" + a + L", {A}, 4, State)",
        L"MsiGetPatchInfoExW(" + b + L", {A}, 4, State)",
        L"MsiCloseHandle(transaction)",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         L"Determining applicable patches.",
                         L"Product '{B}' is not installed.",
                         L"Determining update application order for product 'Product C'.",
                         L"Product 'Product C' is installed per-machine.",
                         L"Determining update application order for product 'Product A'.",
                         L"Product 'Product A' is installed per-machine.",
                         L"Installing update 'b.msp' for 'Product C'.",
                         L"MsiApplyPatch succeeded.",
                         L"Installing update 'a.msp' for 'Product A'.",
                         L"MsiApplyPatch succeeded.",
                         L"Installing update 'b.msp' for 'Product A'.",
                         L"MsiApplyPatch succeeded.",
                         committed,
                     }));
    EXPECT_EQ(watcher.texts().size(), 3u);
    // Each installation's verbose log is a file of its own.
    std::vector<std::wstring> names;
    for (const RecordedVerboseLog& log : verboseLogs->Recorded())
        names.push_back(log.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"b.msp {C}.log", L"a.msp {A}.log", L"b.msp {A}.log"}));
    EXPECT_EQ(record->transaction, TransactionUse::Inside);
    EXPECT_EQ(RecordedInstallation(L"{C}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Inside);
}

TEST_F(UpdateRun, ANullOrEmptyFolderOrAFailedExtractionEndsTheRun)
{
    EXPECT_EQ(RunUpdatesIn(nullptr, {}), 1);
    EXPECT_EQ(RunUpdatesIn(L"", {}), 1);
    EXPECT_TRUE(fake.calls.empty());

    fake.extractResult = 1;
    EXPECT_EQ(RunUpdates({}), 1);
    EXPECT_EQ(fake.calls, std::vector<std::wstring>{L"ExtractUpdates(C:\\work)"});
    EXPECT_TRUE(Log().empty());
}

TEST_F(UpdateRun, AnUnreadablePatchOrPackageOrAFailedSequencingEndsTheRunBeforeAnyTransaction)
{
    struct Case {
        const char* what;
        void (*spoil)();
        const wchar_t* lastCall;  // only closes and frees follow it
        const wchar_t* logLine;   // the run's last line
        int result;
    };
    const Case cases[] = {
        {"patch not opened", [] { fake.patches[1].openResult = ERROR_OPEN_FAILED; },
         L"MsiOpenDatabaseW(C:\\work\\b.msp, 32)", L"Opening patch 'b.msp' failed with error=110.", 1},
        {"patch summary", [] { fake.patches[0].summaryResult = ERROR_INVALID_HANDLE; },
         L"MsiGetSummaryInformationW(database:a.msp",
         L"Reading the target products of patch 'a.msp' failed with error=6.", 1},
        {"patch size query answers 0", [] { fake.patches[0].sizeResult = ERROR_SUCCESS; },
         L"MsiSummaryInfoGetPropertyW(summary:a.msp, 7, 0)",
         L"Reading the target products of patch 'a.msp' failed with error=13.", 1},
        {"patch read", [] { fake.patches[1].readResult = ERROR_MORE_DATA; },
         L"MsiSummaryInfoGetPropertyW(summary:b.msp, 7, 8)",
         L"Reading the target products of patch 'b.msp' failed with error=234.", 1},
        {"package size query", [] { fake.products[L"{C}"].packageSizeResult = ERROR_UNKNOWN_PROPERTY; },
         L"MsiGetProductInfoExW({C}, 4, LocalPackage, 0)",
         L"Reading the installed package of product '{C}' failed with error=1608.", 1},
        {"package not opened", [] { fake.products[L"{A}"].packageOpenResult = ERROR_OPEN_FAILED; },
         L"MsiOpenDatabaseW(C:\\cache\\{A}.msi, 0)",
         L"Reading the installed package of product '{A}' failed with error=110.", 1},
        {"package summary", [] { fake.products[L"{C}"].summaryResult = ERROR_INSTALL_PACKAGE_INVALID; },
         L"MsiGetSummaryInformationW(package:C:\\cache\\{C}.msi, null, 0)",
         L"Reading the installed package of product '{C}' failed with error=1620.", 1},
        {"template read", [] { fake.products[L"{C}"].templateReadResult = ERROR_INVALID_PARAMETER; },
         L"MsiSummaryInfoGetPropertyW(summary:C:\\cache\\{C}.msi, 7, 9)",
         L"Reading the installed package of product '{C}' failed with error=87.", 1},
        {"package's sequence not queried", [] { fake.products[L"{A}"].executeResult = ERROR_FUNCTION_FAILED; },
         L"MsiViewExecute(view:C:\\cache\\{A}.msi, 0)",
         L"Reading the installed package of product '{A}' failed with error=1627.", 1},
        {"package's sequence not fetched", [] { fake.products[L"{A}"].fetchResult = ERROR_INVALID_HANDLE_STATE; },
         L"MsiViewFetch(view:C:\\cache\\{A}.msi)",
         L"Reading the installed package of product '{A}' failed with error=1609.", 1},
        {"sequencing", [] { fake.products[L"{C}"].sequenceResult = ERROR_PATCH_NO_SEQUENCE; },
         L"MsiDeterminePatchSequenceW({C}", L"MsiDeterminePatchSequence failed with error=1648", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_EQ(RunUpdates({}), c.result);
        EXPECT_TRUE(fake.openHandles.empty());
        size_t last = fake.calls.size();
        while (last > 0 && (fake.calls[last - 1].compare(0, 15, L"MsiCloseHandle(") == 0 ||
                            fake.calls[last - 1].compare(0, 5, L"free(") == 0))
            --last;
        ASSERT_GT(last, 0u);
        EXPECT_EQ(fake.calls[last - 1].compare(0, wcslen(c.lastCall), c.lastCall), 0)
            << "last: " << testing::PrintToString(fake.calls[last - 1]);
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty()) << "no transaction, nothing to roll back";
        EXPECT_TRUE(Applied().empty());
        EXPECT_EQ(Log().back(), c.logLine);
    }
}

// A name with the list delimiter would be split by MsiApplyMultiplePatchesW; "MsiApplyPatch"
// says the delimiter must not appear in file names or paths.
TEST_F(UpdateRun, ACarriedNameWithASemicolonEndsTheRunBeforeAnythingIsAsked)
{
    fake.patches = {{L"a.msp", L"{A}"}, {L"fix;1.msp", L"{A}"}};
    fake.products[L"{A}"];
    EXPECT_EQ(RunUpdates({}), 1);
    EXPECT_TRUE(CallsStartingWith(L"MsiOpenDatabaseW(C:\\work\\fix;1.msp").empty());
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(Log().back(),
              L"Update file name 'fix;1.msp' holds a ';', which Windows Installer takes as the end of a patch's path.");
    EXPECT_EQ(record->failedStep, RunStep::ReadingPatch);
    EXPECT_EQ(record->failureCode, static_cast<uint32_t>(ERROR_INVALID_NAME));
}

TEST_F(UpdateRun, AFailureInsideTheTransactionRollsItBackBeforeTheHandleCloses)
{
    struct Case {
        const char* what;
        void (*spoil)();
        std::vector<std::wstring> lastLines;
    };
    const Case cases[] = {
        {"second product, the first of the x86 group, fails",
         [] {
             fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
         },
         {L"MsiApplyPatch failed with error=1603", L"MSI transaction rolled back."}},
        {"the rollback itself fails",
         [] {
             fake.applyResults = {ERROR_INSTALL_FAILURE};
             fake.rollbackResult = ERROR_INSTALL_FAILURE;
         },
         {L"MsiApplyPatch failed with error=1603", L"Rolling back MSI transaction failed with error=1603."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        ScriptTwoPatchesThreeTargets();
        c.spoil();
        EXPECT_NE(RunUpdates({}), 0);
        ASSERT_GE(fake.calls.size(), 2u);
        std::vector<std::wstring> tail(fake.calls.end() - 2, fake.calls.end());
        EXPECT_EQ(tail, (std::vector<std::wstring>{L"MsiEndTransaction(0)", L"MsiCloseHandle(transaction)"}));
        EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction").size(), 1u) << "never committed";
        std::vector<std::wstring> log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()), c.lastLines);
    }
    EXPECT_EQ(Count(Log(), committed), 0u);
}

TEST_F(UpdateRun, ATransactionThatCannotBeginIsLoggedAndNeverEnded)
{
    ScriptTwoPatchesThreeTargets();
    fake.beginResult = ERROR_INSTALL_ALREADY_RUNNING;
    EXPECT_EQ(RunUpdates({}), 1618);
    EXPECT_EQ(fake.calls.back(), L"MsiBeginTransactionW(TessarvaneUpdater, 0)");
    EXPECT_TRUE(Applied().empty());
    EXPECT_EQ(Log().back(), L"Beginning MSI transaction failed with error=1618.");
}

// "MsiEndTransaction" lists the errors of a commit without saying what they leave undone, or
// whether a transaction is left to end: the run asks for the rollback once and trusts neither
// answer, then records what Windows Installer lists of every patch it applied.
TEST_F(UpdateRun, AFailedCommitIsReadBackPatchByPatchAndAsksNoRestartQuestion)
{
    fake.patches = {{L"a.msp", L"{A}"}, {L"b.msp", L"{B}"}, {L"c.msp", L"{C}"}};
    for (const wchar_t* code : {L"{A}", L"{B}", L"{C}"})
        fake.products[code].name = std::wstring(L"Product ") + code[1];
    fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
    fake.commitResult = ERROR_INSTALL_FAILURE;
    fake.rollbackResult = ERROR_INVALID_HANDLE_STATE;
    // Still listed: a.msp; gone: b.msp; unreadable: c.msp.
    fake.undoneByFailedCommit = {AppliedKey(FakePatchCode(fake.patches[1]), L"{B}", MSIINSTALLCONTEXT_MACHINE)};
    fake.patchStateErrors[AppliedKey(FakePatchCode(fake.patches[2]), L"{C}", MSIINSTALLCONTEXT_MACHINE)] =
        ERROR_BAD_CONFIGURATION;
    StatusWatcher watcher(true);
    EXPECT_EQ(RunUpdates(watcher.get()), 1603);

    EXPECT_TRUE(CallsStartingWith(question).empty());
    EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"),
              (std::vector<std::wstring>{L"MsiEndTransaction(1)", L"MsiEndTransaction(0)"}));
    std::vector<std::wstring> log = Log();
    std::vector<std::wstring> expected = {
        L"Committing MSI transaction failed with error=1603.",
        L"Asked to roll the MSI transaction back after the failed commit, Windows Installer answered 1609.",
        L"After the failed commit, Windows Installer lists update 'a.msp' as installed for 'Product A' (per-machine).",
        L"After the failed commit, Windows Installer no longer lists update 'b.msp' for 'Product B' (per-machine).",
        L"After the failed commit, the state of update 'c.msp' for 'Product C' (per-machine) cannot be read: "
        L"error=1610.",
    };
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::wstring>(log.end() - static_cast<std::ptrdiff_t>(expected.size()), log.end()), expected);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).patchState, 1);
    EXPECT_EQ(RecordedPatch(L"{B}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::RolledBack);
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Unknown);
    EXPECT_EQ(record->failedStep, RunStep::Committing);
    EXPECT_EQ(record->failureCode, 1603u);
    EXPECT_EQ(Count(log, L"MSI transaction rolled back."), 0u) << "nothing says it was";
}

// Inside a multiple-package transaction Windows never restarts by itself; a restart that
// the commit finds needed comes back from MsiEndTransaction as 3010 (REBOOT property and
// "Multiple-Package Installations" in Windows Installer's documentation). Whether to restart is
// the run object's question (UpdateRunTest.cpp).
TEST_F(UpdateRun, ACommitAnswering3010IsASuccessThatNeedsARestart)
{
    ScriptTwoPatchesThreeTargets();
    fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED;
    StatusWatcher watcher;
    EXPECT_EQ(RunUpdates(watcher.get()), 3010);
    EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"), std::vector<std::wstring>{L"MsiEndTransaction(1)"});
    EXPECT_TRUE(CallsStartingWith(question).empty()) << "the update asks nothing";
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
              (std::vector<std::wstring>{committed, L"One or more of the updates installed require a reboot."}));
}

// "MsiBeginTransaction": ERROR_ROLLBACK_DISABLED where the DisableRollback policy or property is
// set. msiexec /p still patches there, one package at a time, and so does the run.
TEST_F(UpdateRun, WhereRollbackIsDisabledEachInstallationIsPatchedOnItsOwnAndAFailureStopsTheRest)
{
    ScriptTwoPatchesThreeTargets();
    fake.beginResult = ERROR_ROLLBACK_DISABLED;
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"b.msp {C}", L"a.msp {A}", L"b.msp {A}"}));
    EXPECT_EQ(CallsStartingWith(L"MsiApplyMultiplePatchesW"),
              (std::vector<std::wstring>{Apply(L"b.msp", L"{C}", suppressed), Apply(L"a.msp", L"{A}", suppressed),
                                         Apply(L"b.msp", L"{A}", suppressed)}));
    EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty());
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(Count(log,
                    L"Beginning MSI transaction failed with error=1653: rollback is disabled on this machine. "
                    L"The updates are applied one at a time without a transaction."),
              1u);
    EXPECT_EQ(log.back(), L"All updates applied successfully.");
    EXPECT_EQ(record->transaction, TransactionUse::Outside);
    EXPECT_EQ(RecordedInstallation(L"{A}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Outside);
    EXPECT_EQ(record->failedStep, RunStep::None);

    // A failure stops the run; nothing can undo what was applied before it.
    ResetFake();
    ScriptTwoPatchesThreeTargets();
    fake.beginResult = ERROR_ROLLBACK_DISABLED;
    fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
    EXPECT_EQ(RunUpdates({}), 1603);
    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"b.msp {C}", L"a.msp {A}"}));
    EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty()) << "there is nothing to roll back";
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Failed);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::NotAttempted);
    EXPECT_EQ(Log().back(), L"MsiApplyPatch failed with error=1603");
}

// "ScheduleReboot action", "ForceReboot action" and "Multiple-Package Installations": Windows
// stops and rolls back a package that runs one inside a transaction of several packages. An
// installation whose installed package or patch has one is patched once the transaction is
// over, on its own and without a restart of Windows' own.
TEST_F(UpdateRun, AnInstallationThatRestartsWindowsIsPatchedAfterTheTransactionOnItsOwn)
{
    struct Case {
        const char* what;
        void (*script)();
        const wchar_t* reason;  // the log line that says why
    };
    const Case cases[] = {
        {"the product's own package", [] { fake.products[L"{C}"].restartAction = L"ScheduleReboot"; },
         L"Product '{C}' has ScheduleReboot in its InstallExecuteSequence, which Windows Installer does not run inside "
         L"an MSI transaction; its updates are applied after the transaction, on their own."},
        {"the patch's transforms", [] { fake.patches[1].restartAction = true; },
         L"Update 'b.msp' adds ScheduleReboot in InstallExecuteSequence (transform T1), which Windows Installer does "
         L"not run inside an MSI transaction; the updates of 'Product C' are applied after the transaction, on their "
         L"own."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        fake.patches = {{L"a.msp", L"{A}"}, {L"b.msp", L"{C}"}};
        fake.products[L"{A}"].name = L"Product A";
        fake.products[L"{C}"].name = L"Product C";
        fake.products[L"{C}"].packageTemplate = L"x64;1033";
        c.script();
        fake.applyResults = {ERROR_SUCCESS, ERROR_SUCCESS_REBOOT_REQUIRED};
        EXPECT_EQ(RunUpdates({}), 3010);
        // The x64 product waits for the x86 one's transaction.
        auto commit = std::find(fake.calls.begin(), fake.calls.end(), L"MsiEndTransaction(1)");
        ASSERT_NE(commit, fake.calls.end());
        EXPECT_NE(std::find(fake.calls.begin(), commit, Apply(L"a.msp", L"{A}")), commit);
        EXPECT_NE(std::find(commit, fake.calls.end(), Apply(L"b.msp", L"{C}", suppressed)), fake.calls.end());
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(Count(log, c.reason), 1u);
        EXPECT_EQ(log.back(), L"One or more of the updates installed require a reboot.");
        EXPECT_EQ(RecordedInstallation(L"{C}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Outside);
        EXPECT_EQ(RecordedInstallation(L"{A}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Inside);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
    }

    // With nothing else to apply there is no transaction at all.
    ResetFake();
    fake.patches = {{L"b.msp", L"{C}"}};
    fake.patches[0].restartAction = true;
    fake.products[L"{C}"];
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(Applied(), std::vector<std::wstring>{L"b.msp {C}"});
    EXPECT_EQ(Log().back(), L"All updates applied successfully.");
}

// A patch whose transforms the run cannot read itself is still one that Windows Installer
// opened: it goes into the transaction as before, and the log says what was not read.
TEST_F(UpdateRun, TransformsThatCannotBeReadForRestartActionsAreNamedAndTheRunGoesOn)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.patches[0].transformsUnreadable = true;
    fake.products[L"{A}"];
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(Count(Log(),
                    L"The transforms of patch 'a.msp' could not be read for restart actions: its transform T1 "
                    L"has rows that do not fit InstallExecuteSequence."),
              1u);
    EXPECT_TRUE(record->PatchRestartAction(0).empty());
    EXPECT_EQ(Log().back(), committed);
}

TEST_F(UpdateRun, ARollbackMarksWhatWasAppliedAsRolledBackAndTheRestAsNotAttempted)
{
    ScriptTwoPatchesThreeTargets();
    fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
    EXPECT_EQ(RunUpdates({}), 1603);
    EXPECT_EQ(SequencedProducts(), (std::vector<std::wstring>{L"{C}", L"{A}"}));
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::RolledBack);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Failed);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::NotAttempted);
    ASSERT_EQ(record->installations.size(), 3u);
    EXPECT_EQ(Pooled(record->installations[1].code), L"{B}");
    EXPECT_EQ(record->installations[1].installed, 0) << "not installed";
}

TEST_F(UpdateRun, TheResultIsTheCodeThatDeploymentToolsRead)
{
    const DWORD none = 0xFFFFFFFF;
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
        {"rollback is disabled", [] { fake.beginResult = ERROR_ROLLBACK_DISABLED; }, 0},
        {"the transaction cannot commit", [] { fake.commitResult = ERROR_ROLLBACK_DISABLED; }, 1653},
        {"the commit asks for a restart", [] { fake.commitResult = ERROR_SUCCESS_REBOOT_REQUIRED; }, 3010},
        {"the commit fails after a restart was asked for",
         [] {
             fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED};
             fake.commitResult = ERROR_INSTALL_FAILURE;
         },
         1603},
        {"every patch of an installed target is for another baseline",
         [] {
             fake.products[L"{C}"].sequence = {{ERROR_PATCH_TARGET_NOT_FOUND, none}};
         },
         1642},
        {"one patch of an installed target is for another baseline, the other applies",
         [] {
             fake.products[L"{A}"].sequence = {{ERROR_PATCH_TARGET_NOT_FOUND, none}, {0, 0}};
         },
         0},
        {"applied with success but not registered", [] { fake.patches[0].appliesNothing = true; }, 1603},
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
        EXPECT_EQ(RunUpdates({}), c.result);
    }
}

// msiexec /p answers 1642 for a patch whose target is installed at another baseline; a run that
// said "nothing to do" would let the deployment tool count the machine as patched.
TEST_F(UpdateRun, AnInstalledTargetThatNoCarriedPatchFitsFailsTheRunBeforeAnythingChanges)
{
    const DWORD none = 0xFFFFFFFF;
    ScriptTwoPatchesThreeTargets();
    fake.products[L"{A}"].sequence = {{ERROR_PATCH_TARGET_NOT_FOUND, none}, {ERROR_PATCH_TARGET_NOT_FOUND, none}};
    EXPECT_EQ(RunUpdates({}), ERROR_PATCH_TARGET_NOT_FOUND);
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_TRUE(Applied().empty()) << "not even {C}, which b.msp fits";
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(Count(log, L"Update 'a.msp' does not apply to 'Product A' as installed."), 1u);
    EXPECT_EQ(Count(log, L"Update 'b.msp' does not apply to 'Product A' as installed."), 1u);
    EXPECT_EQ(Count(log, L"No updates required."), 0u);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::TargetNotFound);
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotAttempted);
    EXPECT_EQ(record->failedStep, RunStep::Sequencing);
    EXPECT_EQ(record->failureCode, 1642u);
}

TEST_F(UpdateRun, TargetListsMakeOneKeyPerSpellingInCodeUnitOrder)
{
    // A listed twice, a trailing semicolon, an empty code, and {a} beside {A}.
    fake.patches = {{L"a.msp", L"{A};{A};{a};"}, {L"b.msp", L";{A}"}};
    fake.products[L"{A}"];
    fake.products[L"{a}"];
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(Log()[1], L"Product '' is not installed.") << "the empty code sorts first";
    EXPECT_EQ(CallsStartingWith(L"MsiDeterminePatchSequenceW"),
              (std::vector<std::wstring>{
                  L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\a.msp, C:\\work\\b.msp])",
                  L"MsiDeterminePatchSequenceW({a}, null, 4, [C:\\work\\a.msp])",
              }));
}

// "Template Summary" names x64, Intel64 and Arm64 for 64-bit packages, one platform each; AMD64
// is the older name of x64 (Wine takes it too). A 64-bit package after a 32-bit one in one
// transaction gets its folders redirected, so every 64-bit platform goes first.
TEST_F(UpdateRun, EveryKindOf64BitPackageGoesFirstAndIsRecordedAsItsPlatform)
{
    struct Product {
        const wchar_t* code;
        const wchar_t* templateText;
        PackagePlatform platform;
    };
    const Product products[] = {
        {L"{A}", L"Intel;1033", PackagePlatform::X86},     {L"{B}", L"X64;1033", PackagePlatform::X64},
        {L"{C}", L"x64;1033", PackagePlatform::X64},       {L"{D}", L"AMD64;1033", PackagePlatform::X64},
        {L"{E}", L"Arm64;1033", PackagePlatform::Arm64},   {L"{F}", L"Intel64;1033", PackagePlatform::Ia64},
        {L"{G}", L"Intel,x64;1033", PackagePlatform::X86}, {L"{H}", L";1033", PackagePlatform::X86},
        {L"{I}", L"Arm;1033", PackagePlatform::X86},
    };
    fake.patches = {{L"a.msp", L"{A};{B};{C};{D};{E};{F};{G};{H};{I}"}};
    for (const Product& product : products)
        fake.products[product.code].packageTemplate = product.templateText;
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(SequencedProducts(),
              (std::vector<std::wstring>{L"{B}", L"{C}", L"{D}", L"{E}", L"{F}", L"{A}", L"{G}", L"{H}", L"{I}"}));
    for (const Product& product : products) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(product.templateText)));
        EXPECT_EQ(RecordedInstallation(product.code, MSIINSTALLCONTEXT_MACHINE).platform, product.platform);
    }
}

TEST_F(UpdateRun, NothingToApplyBeginsNoTransaction)
{
    const std::vector<FakePatch> tables[] = {{}, {{L"a.msp", L"{A};{B}"}}};
    for (const std::vector<FakePatch>& patches : tables) {
        ResetFake();
        fake.patches = patches;
        fake.products[L"{A}"].contexts = {};
        fake.products[L"{A}"].advertisedIn = {MSIINSTALLCONTEXT_USERUNMANAGED};
        EXPECT_EQ(RunUpdates({}), 0);
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(CallsStartingWith(L"MsiSetInternalUI").empty());
        EXPECT_EQ(record->transaction, TransactionUse::None);
    }
    // A run whose only target is missing says so: its log alone does not read like a success.
    EXPECT_EQ(Log(), (std::vector<std::wstring>{L"Determining applicable patches.", nothingToDo,
                                                L"Determining applicable patches.", L"Product '{A}' is not installed.",
                                                L"Product '{B}' is not installed.", nothingToDo}));
}

// No patching call takes a context: Windows Installer patches the running account's
// installation it finds first, user-managed, then user-unmanaged, then the machine's
// ("Installation Context"; the DisableUserInstalls policy). The run patches that one and names
// the other, where it would otherwise report a failed check after every commit.
TEST_F(UpdateRun, AProductInTwoContextsOfOneAccountIsPatchedWhereWindowsInstallerLooksFirstAndTheOtherIsNamed)
{
    fake.patches = {{L"a.msp", L"{A};{B};{C};{D}"}};
    // {A} per-user only; {B} per-machine and per-user; {C} advertised per-user and installed
    // per-machine; {D} managed per-user, per-user and per-machine.
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{B}"].contexts = {MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_MACHINE};
    fake.products[L"{B}"].contextTemplates[MSIINSTALLCONTEXT_MACHINE] = L"x64;1033";
    fake.products[L"{C}"].advertisedIn = {MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{D}"].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED,
                                      MSIINSTALLCONTEXT_USERMANAGED};
    fake.products[L"{A}"].name = L"Product A";
    EXPECT_EQ(RunUpdates({}), 0) << "what Windows Installer patched is what the run checked";
    EXPECT_EQ(CallsStartingWith(L"MsiDeterminePatchSequenceW"),
              (std::vector<std::wstring>{
                  L"MsiDeterminePatchSequenceW({A}, null, 2, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({B}, null, 2, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({C}, null, 4, [C:\\work\\a.msp])",
                  L"MsiDeterminePatchSequenceW({D}, null, 1, [C:\\work\\a.msp])",
              }))
        << "{B}'s x64 machine package is not the one patched, so it does not go first";
    EXPECT_TRUE(CallsStartingWith(L"MsiGetProductInfoExW({B}, 4, LocalPackage").empty()) << "not read";
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(Count(log, L"Product 'Product A' is installed per-user."), 1u);
    EXPECT_EQ(Count(log, L"Product '{B}' is installed per-user."), 1u);
    EXPECT_EQ(Count(log,
                    L"Product '{B}' is also installed per-machine; Windows Installer patches only its per-user "
                    L"installation for this account, so this run cannot patch that one."),
              1u);
    EXPECT_EQ(Count(log, L"Product '{C}' is installed per-machine."), 1u) << "advertised only per-user";
    EXPECT_EQ(Count(log, L"Product '{D}' is installed per-user (managed)."), 1u);
    EXPECT_EQ(Count(log,
                    L"Product '{D}' is also installed per-user; Windows Installer patches only its per-user "
                    L"(managed) installation for this account, so this run cannot patch that one."),
              1u);
    EXPECT_EQ(RecordedPatch(L"{B}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::OtherContext);
    EXPECT_EQ(RecordedPatch(L"{B}", MSIINSTALLCONTEXT_USERUNMANAGED, 0).status, PatchStatus::Applied);
    EXPECT_EQ(RecordedInstallation(L"{B}", MSIINSTALLCONTEXT_MACHINE).platform, PackagePlatform::Unknown);
    EXPECT_EQ(record->InstallationsNotPatched(), 3u);
    EXPECT_EQ(log.back(), committed);
}

// "MsiApplyMultiplePatches" answers ERROR_SUCCESS also where none of the patches applied; only
// the state read afterwards tells.
TEST_F(UpdateRun, APatchAnsweredWithSuccessButNotListedAfterTheCommitFailsTheRun)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.patches[0].appliesNothing = true;
    fake.products[L"{A}"].name = L"Product A";
    EXPECT_EQ(RunUpdates({}), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"), std::vector<std::wstring>{L"MsiEndTransaction(1)"})
        << "the check comes after the commit and does not touch the transaction";
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(log.back(),
              L"Windows Installer does not list update 'a.msp' as installed for 'Product A' "
              L"(per-machine) after the commit.");
    EXPECT_EQ(Count(log, committed), 0u) << "the run did not succeed";
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotRegistered);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).patchState, -1);
    EXPECT_EQ(record->failedStep, RunStep::Verifying);
    EXPECT_EQ(record->failureCode, 1603u);
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
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(Applied().size(), 3u);
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
    EXPECT_EQ(RunUpdates({}), 0);

    EXPECT_EQ(Applied(), std::vector<std::wstring>{L"a.msp {A}"}) << "the machine's installation only";
    EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW({A}, S-1-5-21-7-7-7-1001, 2, State").size(), 1u);
    std::vector<std::wstring> log = Log();
    const wchar_t* lines[] = {
        L"Product '{A}' is installed per-user for another account (S-1-5-21-7-7-7-1001); this run cannot patch it.",
        L"Product '{A}' is installed per-user for another account (S-1-5-21-7-7-7-1003); this run cannot patch it.",
    };
    for (const wchar_t* line : lines)
        EXPECT_EQ(Count(log, line), 1u) << testing::PrintToString(std::wstring(line));
    EXPECT_EQ(log.back(), committed);

    // The machine's installation first, then the two listed ones, each with its account.
    ASSERT_EQ(record->installations.size(), 3u);
    EXPECT_FALSE(record->installations[0].otherAccount);
    EXPECT_EQ(record->patches[record->installations[0].firstPatch].status, PatchStatus::Applied);
    const wchar_t* sids[] = {L"S-1-5-21-7-7-7-1001", L"S-1-5-21-7-7-7-1003"};
    for (size_t i = 1; i < 3; ++i) {
        const InstallationRecord& other = record->installations[i];
        EXPECT_TRUE(other.otherAccount);
        EXPECT_EQ(Pooled(other.userSid), sids[i - 1]);
        EXPECT_EQ(record->patches[other.firstPatch].status, PatchStatus::OtherAccount);
    }
}

TEST_F(UpdateRun, AnInstallationListThatCannotBeReadEndsTheRunBeforeAnyTransaction)
{
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.products[L"{A}"];
    fake.enumerateResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(RunUpdates({}), 1);
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(Log().back(), L"Listing the installed products failed with error=5.");
}

TEST_F(UpdateRun, ASecondRunFindsEveryPatchAppliedAndChangesNothing)
{
    ScriptTwoPatchesThreeTargets();
    fake.patches[0].revision = L"{AAAAAAAA-0000-0000-0000-000000000001}";
    // A patch code followed by the code of a patch it supersedes.
    fake.patches[1].revision = L"{BBBBBBBB-0000-0000-0000-000000000002}{AAAAAAAA-0000-0000-0000-000000000009}";
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"b.msp {C}", L"a.msp {A}", L"b.msp {A}"}));
    size_t firstRunLines = Log().size();

    fake.calls.clear();
    EXPECT_EQ(RunUpdates({}), 0);
    EXPECT_TRUE(Applied().empty());
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(CallsStartingWith(L"MsiGetPatchInfoExW({BBBBBBBB-0000-0000-0000-000000000002}, {C}, 4, State)").size(),
              1u);
    std::vector<std::wstring> log = Log();
    log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(firstRunLines));
    EXPECT_EQ(Count(log, L"Update 'b.msp' is already installed for 'Product C'."), 1u);
    EXPECT_EQ(Count(log, L"Update 'b.msp' is already installed for 'Product A'."), 1u);
    EXPECT_EQ(Count(log, L"Update 'a.msp' is already installed for 'Product A'."), 1u);
    EXPECT_EQ(log.back(), nothingToDo);
    for (const InstallationRecord& product : record->installations) {
        for (uint32_t j = 0; product.installed == 1 && j < product.patchCount; ++j)
            EXPECT_EQ(record->patches[product.firstPatch + j].status, PatchStatus::AlreadyApplied);
    }
}

namespace {

std::vector<PatchStatus> Statuses(const RunRecord& record)
{
    std::vector<PatchStatus> statuses;
    for (const PatchRecord& patch : record.patches)
        statuses.push_back(patch.status);
    return statuses;
}

}  // namespace

// {C} (x64) goes first and its patch applies; then {A}'s first patch fails, its second was
// not applicable, and the rollback takes back {C}'s patch. {B} is not installed; {A} is
// installed per-user, where Windows Installer patches it, and per-machine, where it does not.
TEST_F(UpdateRun, ReportsEveryPatchAndInstallationToTheRunsRecord)
{
    const DWORD none = 0xFFFFFFFF;
    ScriptTwoPatchesThreeTargets();
    fake.patches[0].revision = L"{11111111-2222-3333-4444-555555555555}{99999999-2222-3333-4444-555555555555}";
    fake.patches[1].revision = L"not a GUID";
    fake.products[L"{A}"].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED};
    fake.products[L"{A}"].sequence = {{0, 0}, {ERROR_PATCH_PACKAGE_INVALID, none}};
    fake.applyResults = {ERROR_SUCCESS, 1603};
    EXPECT_EQ(RunUpdates({}), 1603);

    ASSERT_EQ(record->files.size(), 2u);
    EXPECT_STREQ(record->files[0].patchCode, L"{11111111-2222-3333-4444-555555555555}");
    EXPECT_STREQ(record->files[1].patchCode, L"");
    ASSERT_EQ(record->files[1].targetCount, 2u);
    EXPECT_EQ(Pooled(record->targets[record->files[1].firstTarget]), L"{C}");
    EXPECT_EQ(Pooled(record->targets[record->files[1].firstTarget + 1]), L"{A}");
    std::vector<std::wstring> codes, names;
    std::vector<int> installed;
    std::vector<PackagePlatform> platforms;
    std::vector<DWORD> contexts;
    for (const InstallationRecord& product : record->installations) {
        codes.push_back(Pooled(product.code));
        names.push_back(Pooled(product.displayName));
        installed.push_back(product.installed);
        platforms.push_back(product.platform);
        contexts.push_back(product.context);
    }
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"{A}", L"{B}", L"{C}", L"{A}"}));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Product A", L"", L"Product C", L""}));
    EXPECT_EQ(installed, (std::vector<int>{1, 0, 1, 1}));
    EXPECT_EQ(platforms, (std::vector<PackagePlatform>{PackagePlatform::X86, PackagePlatform::Unknown,
                                                       PackagePlatform::X64, PackagePlatform::Unknown}));
    EXPECT_EQ(contexts, (std::vector<DWORD>{MSIINSTALLCONTEXT_USERUNMANAGED, 0, MSIINSTALLCONTEXT_MACHINE,
                                            MSIINSTALLCONTEXT_MACHINE}));
    // In record order: {A} per user a.msp, b.msp; {B} a.msp; {C} b.msp; {A} per machine a.msp, b.msp.
    EXPECT_EQ(Statuses(*record), (std::vector<PatchStatus>{PatchStatus::Failed, PatchStatus::NotApplicable,
                                                           PatchStatus::NotApplicable, PatchStatus::RolledBack,
                                                           PatchStatus::OtherContext, PatchStatus::OtherContext}));
    EXPECT_EQ(record->patches[0].resultCode, 1603u);
    EXPECT_EQ(record->patches[1].resultCode, static_cast<uint32_t>(ERROR_PATCH_PACKAGE_INVALID));
    EXPECT_FALSE(record->patches[2].hasResult);
    EXPECT_EQ(record->failedStep, RunStep::Applying);
    EXPECT_EQ(record->failureCode, 1603u);
    EXPECT_EQ(Pooled(record->failureMessage), L"MsiApplyPatch failed with error=1603");
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
        EXPECT_NE(RunUpdates({}), 0);
        EXPECT_EQ(record->failedStep, c.step);
        EXPECT_EQ(record->failureCode, c.code);
        EXPECT_FALSE(Pooled(record->failureMessage).empty());
    }
}
