// One installation's patches: naming, sequencing and the states read before the transaction
// (what is applied already, superseded, obsolete, or made for another baseline), then the
// application order, each patch applied to that product only, the per-patch log, the status
// texts, the restart flag and the release of every patch path copy.
#include <gtest/gtest.h>

#include <strsafe.h>

#include <memory>

#include "AppState.h"
#include "ApplyProductUpdates.h"
#include "Fakes.h"
#include "Log.h"
#include "RunRecord.h"
#include "TestFiles.h"
#include "VerboseLogs.h"

namespace {

const wchar_t product[] = L"{A}";
const wchar_t folder[] = L"C:\\work";

class ProductUpdates : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        ResetAppState();
        appState.logFolder = logs.path() + L"\\";
        OpenLogFile();
        fake.folder = folder;
        fake.products[product].name = L"Sample Product";
        for (const wchar_t* name : {L"a.msp", L"b.msp", L"c.msp"}) {
            PatchFileInfo entry{};
            StringCchCopyW(entry.fileName, ARRAYSIZE(entry.fileName), name);
            table.push_back(entry);
        }
    }

    void TearDown() override
    {
        EXPECT_EQ(LivePatchDataCount(), 0u) << "a patch path copy was not freed";
        ResetAppState();
        ResetFake();
    }

    // The run's record as the update run leaves it when the installation's turn comes: the
    // carried files with their codes, the product with its index list, its installation. Both
    // turns, as the run takes them: the planning's failure, or the applying's result.
    int Apply(const std::vector<int32_t>& indexes, const UpdateProgress& progress = {},
              MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE)
    {
        record.reset(new RunRecord);
        verboseLogs.reset(new VerboseLogs);
        for (size_t i = 0; i < table.size(); ++i) {
            record->RecordCarriedFile(table[i].fileName, ARRAYSIZE(table[i].fileName), 0);
            record->RecordPatchTargets(static_cast<int32_t>(i), i < patchCodes.size() ? patchCodes[i].c_str() : L"",
                                       {product});
            if (i < restartActions.size())
                record->RecordPatchRestartAction(static_cast<int32_t>(i), restartActions[i]);
        }
        std::wstring sid = context == MSIINSTALLCONTEXT_MACHINE ? L"" : RunningSid();
        installation =
            record->RecordInstallation(record->RecordProduct(product, indexes), context, sid, PackagePlatform::X86);
        plan = InstallationPlan();
        plan.installation = installation;
        RunContext run{folder, *record, *verboseLogs, nullptr};
        if (PlanProductUpdates(run, table, progress, plan) != 0)
            return 1;
        return ChangeProductUpdates(run, table, progress, plan, InstallationChange::Apply, properties, &rebootRequired);
    }

    const PatchRecord& Patch(size_t position) const { return record->InstallationPatch(installation, position); }

    std::vector<PatchStatus> Statuses() const
    {
        std::vector<PatchStatus> statuses;
        for (size_t j = 0; j < record->installations[installation].patchCount; ++j)
            statuses.push_back(Patch(j).status);
        return statuses;
    }

    std::vector<std::wstring> Log() { return ReadLogMessages(logs / L"TessarvaneUpdater.log"); }

    // The file names that MsiApplyMultiplePatchesW got, in order.
    std::vector<std::wstring> Applied()
    {
        std::vector<std::wstring> names;
        for (const std::wstring& call : CallsStartingWith(L"MsiApplyMultiplePatchesW("))
            names.push_back(call.substr(call.find(L"\\work\\") + 6, 5));
        return names;
    }

    const wchar_t* properties = L"REINSTALL=ALL REINSTALLMODE=omus";
    TempFolder logs;
    UpdateTable table;
    std::vector<std::wstring> patchCodes;      // each carried file's code; none where left out
    std::vector<std::wstring> restartActions;  // what each carried file's transforms add
    InstallationPlan plan;
    std::unique_ptr<RunRecord> record{new RunRecord};
    std::unique_ptr<VerboseLogs> verboseLogs{new VerboseLogs};
    uint32_t installation = 0;
    bool rebootRequired = false;
};

const wchar_t determining[] = L"Determining update application order for product 'Sample Product'.";
const wchar_t perMachine[] = L"Product 'Sample Product' is installed per-machine.";

const wchar_t applyA[] = L"MsiApplyMultiplePatchesW(C:\\work\\a.msp, {A}, REINSTALL=ALL REINSTALLMODE=omus)";
const wchar_t applyB[] = L"MsiApplyMultiplePatchesW(C:\\work\\b.msp, {A}, REINSTALL=ALL REINSTALLMODE=omus)";
const DWORD none = 0xFFFFFFFF;

}  // namespace

TEST_F(ProductUpdates, AnEmptyIndexListCallsNothingAndLogsNothing)
{
    EXPECT_EQ(Apply({}), 0);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(Log().empty());
}

TEST_F(ProductUpdates, AppliesEachPatchWithItsOwnVerboseLogAndStatusText)
{
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0, 1}, watcher.get()), 0);

    // Written in the working folder, copied into the log folder under these names at the end.
    std::wstring logA = L"C:\\work\\TessarvaneUpdater-verbose-1.log";
    std::wstring logB = L"C:\\work\\TessarvaneUpdater-verbose-2.log";
    ASSERT_EQ(verboseLogs->Recorded().size(), 2u);
    EXPECT_EQ(verboseLogs->Recorded()[0].name, L"a.msp {A}.log");
    EXPECT_EQ(verboseLogs->Recorded()[1].name, L"b.msp {A}.log");
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{
                              L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 0)",
                              L"MsiGetProductInfoExW({A}, 4, InstalledProductName, 15)",
                              L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\a.msp, C:\\work\\b.msp])",
                              L"free(C:\\work\\a.msp)",
                              L"free(C:\\work\\b.msp)",
                              L"MsiEnableLogW(4096, " + logA + L", 0)",
                              applyA,
                              L"MsiEnableLogW(4096, " + logB + L", 0)",
                              applyB,
                          }));
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         determining,
                         perMachine,
                         L"Installing update 'a.msp' for 'Sample Product'.",
                         L"MsiApplyPatch succeeded.",
                         L"Installing update 'b.msp' for 'Sample Product'.",
                         L"MsiApplyPatch succeeded.",
                     }));
    EXPECT_EQ(watcher.texts(), (std::vector<std::wstring>{L"Installing update 'a.msp' for 'Sample Product'.",
                                                          L"Installing update 'b.msp' for 'Sample Product'."}));
    EXPECT_FALSE(rebootRequired);
}

TEST_F(ProductUpdates, WithoutNameOrLogFolderUsesTheCodeAndEnablesNoLog)
{
    fake.products[product].nameResult = ERROR_UNKNOWN_PROPERTY;
    appState.logFolder.clear();  // the log file stays open to read the lines
    EXPECT_EQ(Apply({0}), 0);
    EXPECT_TRUE(CallsStartingWith(L"MsiEnableLogW").empty());
    EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW").size(), 1u) << "no read after a failed size query";
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         L"Determining update application order for product '{A}'.",
                         L"Product '{A}' is installed per-machine.",
                         L"Installing update 'a.msp' for '{A}'.",
                         L"MsiApplyPatch succeeded.",
                     }));
}

TEST_F(ProductUpdates, AProductWithoutAnInstalledNameIsNamedByItsCode)
{
    // Windows answers a product without InstalledProductName with success and an empty text
    // ("MsiGetProductInfoEx": an empty string for a property the product does not have).
    fake.products[product].name.clear();
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0}, watcher.get()), 0);
    EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW").size(), 2u);
    EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{L"Installing update 'a.msp' for '{A}'."});
    EXPECT_EQ(record->Text(record->installations[installation].displayName), L"") << "recorded as no name";
}

TEST_F(ProductUpdates, ASequencingFailureAppliesNothingAndLogsItsError)
{
    fake.products[product].sequenceResult = ERROR_PATCH_NO_SEQUENCE;
    EXPECT_EQ(Apply({0, 1}), 1);
    EXPECT_TRUE(Applied().empty());
    EXPECT_EQ(CallsStartingWith(L"free(").size(), 2u);
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         determining,
                         perMachine,
                         L"MsiDeterminePatchSequence failed with error=1648",
                     }));
}

TEST_F(ProductUpdates, AppliesByOrderThenByIndexListAndNeverTheInapplicable)
{
    struct Case {
        const char* what;
        std::vector<FakeSequenceEntry> sequence;  // for indexes 0, 1, 2
        std::vector<std::wstring> applied;
    };
    const Case cases[] = {
        {"orders 0 and 2, nothing at 1", {{0, 2}, {0, 0}, {1, none}}, {L"b.msp", L"a.msp"}},
        {"equal orders keep list order", {{0, 1}, {0, 1}, {0, 0}}, {L"c.msp", L"a.msp", L"b.msp"}},
        {"non-zero status is never applied", {{1, 0}, {0, 1}, {1, 2}}, {L"b.msp"}},
        {"an unsequenced entry is never applied", {{0, none}, {0, 0}, {1, none}}, {L"b.msp"}},
        {"a huge order does not walk empty levels", {{0, 0x7FFFFFFF}, {0, 3}, {1, none}}, {L"b.msp", L"a.msp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        fake.folder = folder;
        fake.products[product].name = L"Sample Product";
        fake.products[product].sequence = c.sequence;
        EXPECT_EQ(Apply({0, 1, 2}), 0);
        EXPECT_EQ(Applied(), c.applied);
    }
}

TEST_F(ProductUpdates, NothingApplicableIsNoUpdatesRequired)
{
    fake.products[product].sequence = {{ERROR_PATCH_PACKAGE_INVALID, none}, {ERROR_PATCH_NO_SEQUENCE, none}};
    EXPECT_EQ(Apply({0, 1}), 0);
    EXPECT_TRUE(Applied().empty());
    EXPECT_FALSE(plan.targetNotFound);
    EXPECT_EQ(CallsStartingWith(L"free(").size(), 2u);
    EXPECT_EQ(Log(), (std::vector<std::wstring>{determining, perMachine, L"No updates required."}));
    EXPECT_EQ(Statuses(), (std::vector<PatchStatus>{PatchStatus::NotApplicable, PatchStatus::NotApplicable}));
}

// "MsiDeterminePatchSequence": a patch left at -1 with ERROR_SUCCESS is obsolete or
// superseded for the product; the state Windows Installer lists tells which.
TEST_F(ProductUpdates, APatchTheSequenceLeavesOutWithSuccessIsSupersededOrObsoleteNotInapplicable)
{
    patchCodes = {L"{11111111-1111-1111-1111-111111111111}", L"{22222222-2222-2222-2222-222222222222}"};
    fake.patchStates[AppliedKey(patchCodes[1], product, MSIINSTALLCONTEXT_MACHINE)] = L"4";
    fake.products[product].sequence = {{ERROR_SUCCESS, none}, {ERROR_SUCCESS, none}};
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0, 1}, watcher.get()), 0);
    EXPECT_TRUE(Applied().empty());
    EXPECT_EQ(Statuses(), (std::vector<PatchStatus>{PatchStatus::Superseded, PatchStatus::Obsolete}));
    EXPECT_EQ(Patch(0).patchState, -1) << "not listed by Windows Installer";
    EXPECT_EQ(Patch(1).patchState, 4);
    EXPECT_EQ(watcher.texts(), (std::vector<std::wstring>{
                                   L"Update 'a.msp' is superseded by an update installed for 'Sample Product'.",
                                   L"Update 'b.msp' is obsolete for 'Sample Product'.",
                               }));
    EXPECT_EQ(Log().back(), L"No updates required.");
}

// ERROR_PATCH_TARGET_NOT_FOUND in a patch's uStatus: the patch is for this product, at another
// version or language ("MsiDeterminePatchSequence"); msiexec /p answers 1642 for it.
TEST_F(ProductUpdates, PatchesAllMadeForAnotherBaselineLeaveTheInstallationNotFoundAndSaySo)
{
    struct Case {
        const char* what;
        std::vector<FakeSequenceEntry> sequence;  // for a.msp, b.msp
        bool applied;                             // b.msp is registered already
        bool notFound;
        std::vector<PatchStatus> statuses;
    };
    const Case cases[] = {
        {"every patch for another baseline",
         {{1642, none}, {1642, none}},
         false,
         true,
         {PatchStatus::TargetNotFound, PatchStatus::TargetNotFound}},
        {"one for another baseline, one that does not apply",
         {{1642, none}, {ERROR_PATCH_PACKAGE_INVALID, none}},
         false,
         true,
         {PatchStatus::TargetNotFound, PatchStatus::NotApplicable}},
        {"one for another baseline, one that applies",
         {{1642, none}, {0, 0}},
         false,
         false,
         {PatchStatus::NotApplicable, PatchStatus::Applied}},
        {"one for another baseline, one applied already",
         {{1642, none}, {0, 0}},
         true,
         false,
         {PatchStatus::NotApplicable, PatchStatus::AlreadyApplied}},
        {"one for another baseline, one superseded",
         {{1642, none}, {0, none}},
         false,
         false,
         {PatchStatus::NotApplicable, PatchStatus::Superseded}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        fake.folder = folder;
        fake.products[product].name = L"Sample Product";
        fake.products[product].sequence = c.sequence;
        patchCodes = {L"{11111111-1111-1111-1111-111111111111}", L"{22222222-2222-2222-2222-222222222222}"};
        if (c.applied)
            fake.appliedPatches = {AppliedKey(patchCodes[1], product, MSIINSTALLCONTEXT_MACHINE)};
        size_t before = Log().size();
        EXPECT_EQ(Apply({0, 1}), 0) << "the run, not the installation, ends with 1642";
        EXPECT_EQ(plan.targetNotFound, c.notFound);
        EXPECT_EQ(Statuses(), c.statuses);
        EXPECT_EQ(Patch(0).resultCode, 1642u);
        std::vector<std::wstring> log = Log();
        const std::wstring line = L"Update 'a.msp' does not apply to 'Sample Product' as installed.";
        EXPECT_EQ(std::count(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(), line), c.notFound ? 1 : 0);
        if (c.notFound) {
            EXPECT_TRUE(Applied().empty());
            EXPECT_EQ(record->failedStep, RunStep::Sequencing);
            EXPECT_EQ(record->failureCode, 1642u);
        }
    }
}

// Windows Installer refuses ForceReboot and ScheduleReboot inside a transaction of several
// packages ("Multiple-Package Installations"): a patch to apply that adds one keeps the
// installation out of the transaction; one that is not applied does not.
TEST_F(ProductUpdates, APatchToApplyThatAddsARestartActionKeepsTheInstallationOutOfTheTransaction)
{
    restartActions = {L"", L"ScheduleReboot in InstallExecuteSequence (transform T1)"};
    EXPECT_EQ(Apply({0, 1}), 0);
    EXPECT_EQ(plan.restartAction, L"ScheduleReboot in InstallExecuteSequence (transform T1)");
    EXPECT_EQ(Log()[2],
              L"Update 'b.msp' adds ScheduleReboot in InstallExecuteSequence (transform T1), which Windows "
              L"Installer does not run inside an MSI transaction; the updates of 'Sample Product' are "
              L"applied after the transaction, on their own.");

    fake.products[product].sequence = {{0, 0}, {ERROR_PATCH_PACKAGE_INVALID, none}};
    EXPECT_EQ(Apply({0, 1}), 0);
    EXPECT_TRUE(plan.restartAction.empty()) << "b.msp is not applied here";
}

TEST_F(ProductUpdates, ARestartRequestSetsTheFlagAndGoesOn)
{
    fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS};
    EXPECT_EQ(Apply({0, 1}), 0);
    EXPECT_TRUE(rebootRequired);
    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"a.msp", L"b.msp"}));
    std::vector<std::wstring> log = Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[3], L"MsiApplyPatch succeeded.");
    EXPECT_EQ(log[5], L"MsiApplyPatch succeeded.");
}

TEST_F(ProductUpdates, AFailedPatchStopsTheProductWithItsErrorAndStaysOutOfTheWindow)
{
    StatusWatcher watcher;
    rebootRequired = true;  // from an earlier product
    fake.applyResults = {ERROR_INSTALL_FAILURE};
    EXPECT_EQ(Apply({0, 1}, watcher.get()), 1603) << "the error is the run's exit code";
    EXPECT_TRUE(rebootRequired);
    EXPECT_EQ(Applied(), std::vector<std::wstring>{L"a.msp"});
    EXPECT_EQ(Statuses(), (std::vector<PatchStatus>{PatchStatus::Failed, PatchStatus::NotAttempted}));
    EXPECT_EQ(Patch(0).resultCode, 1603u);
    EXPECT_EQ(fake.calls.back(), applyA) << "b.msp is not started";
    EXPECT_EQ(Log(), (std::vector<std::wstring>{
                         determining,
                         perMachine,
                         L"Installing update 'a.msp' for 'Sample Product'.",
                         L"MsiApplyPatch failed with error=1603",
                     }));
    EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{L"Installing update 'a.msp' for 'Sample Product'."});
}

TEST_F(ProductUpdates, ALongStatusTextIsCutTo511CharactersInLogAndWindow)
{
    std::wstring longName(500, L'n');
    fake.products[product].name = longName;
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0}, watcher.get()), 0);
    std::wstring full = L"Installing update 'a.msp' for '" + longName + L"'.";
    ASSERT_GT(full.size(), 511u);
    std::wstring cut = full.substr(0, 511);
    std::vector<std::wstring> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], cut);
    EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{cut});
}

TEST_F(ProductUpdates, AnIndexListedTwiceIsTwoEntriesWithTheirOwnCopies)
{
    EXPECT_EQ(Apply({1, 1}), 0);
    EXPECT_EQ(
        CallsStartingWith(L"MsiDeterminePatchSequenceW"),
        std::vector<std::wstring>{L"MsiDeterminePatchSequenceW({A}, null, 4, [C:\\work\\b.msp, C:\\work\\b.msp])"})
        << "BAD-ARGS here would mean one copy shared by both entries";
    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"b.msp", L"b.msp"}));
    EXPECT_EQ(CallsStartingWith(L"free(").size(), 2u);
}

TEST_F(ProductUpdates, EachContextIsSequencedNamedAndLoggedAsItselfAndNoOtherWorks)
{
    struct Case {
        const char* what;
        MSIINSTALLCONTEXT installed;
        MSIINSTALLCONTEXT asked;
        int result;
        const wchar_t* contextLine;
    };
    const Case cases[] = {
        {"per-user", MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_USERUNMANAGED, 0,
         L"Product 'Sample Product' is installed per-user."},
        {"per-user, managed", MSIINSTALLCONTEXT_USERMANAGED, MSIINSTALLCONTEXT_USERMANAGED, 0,
         L"Product 'Sample Product' is installed per-user (managed)."},
        // The fault this guards against: a per-user product asked for in the machine context.
        {"per-user asked per-machine", MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_MACHINE, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFake();
        fake.folder = folder;
        fake.products[product].name = L"Sample Product";
        fake.products[product].contexts = {c.installed};
        EXPECT_EQ(Apply({0}, {}, c.asked), c.result);
        std::wstring context = std::to_wstring(c.asked);
        EXPECT_EQ(
            CallsStartingWith(L"MsiDeterminePatchSequenceW"),
            std::vector<std::wstring>{L"MsiDeterminePatchSequenceW({A}, null, " + context + L", [C:\\work\\a.msp])"});
        if (c.result == 0) {
            EXPECT_EQ(CallsStartingWith(L"MsiGetProductInfoExW({A}, " + context + L", InstalledProductName").size(),
                      2u);
            std::vector<std::wstring> log = Log();
            EXPECT_EQ(log[log.size() - 3], c.contextLine);
        } else {
            EXPECT_EQ(Log().back(), L"MsiDeterminePatchSequence failed with error=1610");
        }
    }
}

TEST_F(ProductUpdates, APatchAlreadyAppliedInThisContextIsPassedOverAsASuccess)
{
    patchCodes = {L"{11111111-1111-1111-1111-111111111111}", L"", L"{33333333-3333-3333-3333-333333333333}"};
    fake.appliedPatches = {
        AppliedKey(patchCodes[0], product, MSIINSTALLCONTEXT_MACHINE),
        // Applied to the per-user installation only: the machine's still needs it.
        AppliedKey(patchCodes[2], product, MSIINSTALLCONTEXT_USERUNMANAGED),
    };
    fake.products[product].contexts = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED};
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0, 1, 2}, watcher.get()), 0);

    EXPECT_EQ(Applied(), (std::vector<std::wstring>{L"b.msp", L"c.msp"}));
    EXPECT_EQ(CallsStartingWith(L"MsiGetPatchInfoExW"),
              (std::vector<std::wstring>{
                  L"MsiGetPatchInfoExW({11111111-1111-1111-1111-111111111111}, {A}, 4, State)",
                  L"MsiGetPatchInfoExW({33333333-3333-3333-3333-333333333333}, {A}, 4, State)",
              }))
        << "a patch without a code is applied without asking";
    EXPECT_EQ(CallsStartingWith(L"MsiEnableLogW").size(), 2u) << "no verbose log for a patch not applied";
    const wchar_t already[] = L"Update 'a.msp' is already installed for 'Sample Product'.";
    std::vector<std::wstring> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], already);
    EXPECT_EQ(watcher.texts().front(), already);
    EXPECT_EQ(Statuses(),
              (std::vector<PatchStatus>{PatchStatus::AlreadyApplied, PatchStatus::Applied, PatchStatus::Applied}));
}

TEST_F(ProductUpdates, ASupersededOrObsoletePatchIsNotAppliedAgainAndCountsAsASuccess)
{
    // MsiGetPatchInfoEx's State: 2 superseded, 4 obsolete; anything else is applied.
    patchCodes = {L"{11111111-1111-1111-1111-111111111111}", L"{22222222-2222-2222-2222-222222222222}",
                  L"{33333333-3333-3333-3333-333333333333}"};
    fake.patchStates[AppliedKey(patchCodes[0], product, MSIINSTALLCONTEXT_MACHINE)] = L"2";
    fake.patchStates[AppliedKey(patchCodes[1], product, MSIINSTALLCONTEXT_MACHINE)] = L"4";
    fake.patchStates[AppliedKey(patchCodes[2], product, MSIINSTALLCONTEXT_MACHINE)] = L"8";  // registered only
    StatusWatcher watcher;
    EXPECT_EQ(Apply({0, 1, 2}, watcher.get()), 0);
    EXPECT_EQ(Applied(), std::vector<std::wstring>{L"c.msp"});
    EXPECT_EQ(Statuses(),
              (std::vector<PatchStatus>{PatchStatus::Superseded, PatchStatus::Obsolete, PatchStatus::Applied}));
    EXPECT_EQ(Patch(0).patchState, 2);
    EXPECT_EQ(Patch(1).patchState, 4);
    EXPECT_EQ(watcher.texts(), (std::vector<std::wstring>{
                                   L"Update 'a.msp' is superseded by an update installed for 'Sample Product'.",
                                   L"Update 'b.msp' is obsolete for 'Sample Product'.",
                                   L"Installing update 'c.msp' for 'Sample Product'.",
                               }));
}

TEST_F(ProductUpdates, TheRecordGivesEachPatchItsStatusAndInstallerResult)
{
    fake.products[product].sequence = {{0, 0}, {ERROR_PATCH_TARGET_NOT_FOUND, none}, {0, 1}};
    fake.applyResults = {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS};
    EXPECT_EQ(Apply({0, 1, 2}), 0);
    EXPECT_EQ(record->Text(record->installations[installation].displayName), L"Sample Product");
    EXPECT_EQ(Statuses(),
              (std::vector<PatchStatus>{PatchStatus::Applied, PatchStatus::NotApplicable, PatchStatus::Applied}));
    EXPECT_EQ(Patch(0).resultCode, 3010u);
    EXPECT_EQ(Patch(1).resultCode, static_cast<UINT>(ERROR_PATCH_TARGET_NOT_FOUND));
    EXPECT_TRUE(Patch(1).hasResult);
    EXPECT_EQ(Patch(2).index, 2);
}
