// The removal run (-u) against the fake of Windows Installer, which removes as "MsiRemovePatches"
// says: every listed patch taken back in one transaction, or nothing at all; the check after the
// commit that none is listed any more; and a second removal that finds nothing to do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpdateRunFixture.h"

namespace {

class Removal : public UpdateRun {
protected:
    // The two patches and three targets, each patch removable and applied to every target
    // that is installed: a.msp to {A}, b.msp to {C} and {A}.
    void ScriptAppliedRemovablePatches()
    {
        ScriptTwoPatchesThreeTargets();
        for (FakePatch& patch : fake.patches) {
            patch.allowRemoval = L"1";
            patch.uninstallable = L"1";
        }
        a = FakePatchCode(fake.patches[0]);
        b = FakePatchCode(fake.patches[1]);
        fake.appliedPatches = {AppliedKey(a, L"{A}", MSIINSTALLCONTEXT_MACHINE),
                               AppliedKey(b, L"{A}", MSIINSTALLCONTEXT_MACHINE),
                               AppliedKey(b, L"{C}", MSIINSTALLCONTEXT_MACHINE)};
    }

    // The removal calls in order, as "patch code product" pairs.
    static std::vector<std::wstring> Removed()
    {
        std::vector<std::wstring> removed;
        for (const std::wstring& call : CallsStartingWith(L"MsiRemovePatchesW("))
            removed.push_back(call.substr(18, call.find(L", 2, ") - 18));
        return removed;
    }

    std::wstring a;
    std::wstring b;
};

}  // namespace

// The x64 installation first; each installation's patches in the reverse of the order they were
// applied in (a.msp then b.msp on {A}); every one by its code, from that product only, each with
// its own verbose log; then the check that Windows Installer lists none of them.
TEST_F(Removal, TakesEveryListedPatchBackInOneTransactionInReverseOrderAndChecksItIsGone)
{
    ScriptAppliedRemovablePatches();
    appState.removal = true;
    StatusWatcher watcher;
    EXPECT_EQ(RunRemoval(watcher.get()), 0);
    EXPECT_EQ(Removed(), (std::vector<std::wstring>{b + L", {C}", b + L", {A}", a + L", {A}"}));
    std::vector<std::wstring> calls = fake.calls;
    auto begin = std::find(calls.begin(), calls.end(), L"MsiBeginTransactionW(TessarvaneUpdater, 0)");
    auto commit = std::find(calls.begin(), calls.end(), L"MsiEndTransaction(1)");
    auto first = std::find(calls.begin(), calls.end(), L"MsiRemovePatchesW(" + b + L", {C}, 2, null)");
    ASSERT_NE(begin, calls.end());
    EXPECT_LT(begin, first);
    EXPECT_LT(first, commit);
    EXPECT_TRUE(fake.appliedPatches.empty());
    EXPECT_TRUE(Applied().empty()) << "a removal applies nothing";
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Removed);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::Removed);
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Removed);
    EXPECT_EQ(Pooled(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).verboseLog), L"b.msp {C} removal.log");
    EXPECT_EQ(Count(watcher.texts(), L"Removing update 'a.msp' from 'Product A'."), 1u);
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(Count(log, L"Determining update removal order for product 'Product A'."), 1u);
    EXPECT_EQ(log.back(), L"All updates removed successfully and MSI transaction committed.");

    // Again: nothing is listed, nothing is begun, and the run succeeds.
    SetUp();
    ScriptAppliedRemovablePatches();
    fake.appliedPatches.clear();
    EXPECT_EQ(RunRemoval(), 0);
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_TRUE(Removed().empty());
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotApplicable);
    EXPECT_EQ(Log().back(), L"No update needs removing; no MSI transaction was begun.");
}

// All or nothing: one patch that may not be removed, by what Windows Installer registered or by
// the patch itself, keeps every other one where it is.
TEST_F(Removal, OnePatchThatCannotBeRemovedKeepsEveryPatchInPlaceAndEndsWith1646)
{
    struct Case {
        const wchar_t* allowRemoval;
        const wchar_t* uninstallable;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {L"1", L"0", L"Windows Installer does not list it as removable"},
        {L"", L"1", L"its MsiPatchMetadata does not allow removal"},
        {L"0", L"1", L"its MsiPatchMetadata does not allow removal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        SetUp();
        ScriptAppliedRemovablePatches();
        fake.patches[1].allowRemoval = c.allowRemoval;
        fake.patches[1].uninstallable = c.uninstallable;
        EXPECT_EQ(RunRemoval(), static_cast<int>(ERROR_PATCH_REMOVAL_UNSUPPORTED));
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(Removed().empty());
        EXPECT_EQ(fake.appliedPatches.size(), 3u);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotRemovable);
        EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::NotRemovable);
        EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotAttempted);
        EXPECT_EQ(record->failedStep, RunStep::Removability);
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(Count(log, std::wstring(L"Update 'b.msp' cannot be removed from 'Product C' (per-machine): ") +
                                 c.reason + L"."),
                  1u);
        EXPECT_EQ(log.back(), L"Nothing was removed: not every update can be removed.");
    }
}

// Windows Installer answered success and still lists the patch, as Wine's does: the run must
// not call that a removal.
TEST_F(Removal, APatchStillListedAfterTheCommitFailsTheRun)
{
    ScriptAppliedRemovablePatches();
    fake.patches[0].removesNothing = true;
    EXPECT_EQ(RunRemoval(), static_cast<int>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::StillListed);
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::Removed);
    EXPECT_EQ(record->failedStep, RunStep::Verifying);
    EXPECT_EQ(Count(Log(),
                    L"Windows Installer still lists update 'a.msp' for 'Product A' (per-machine) after the "
                    L"commit."),
              1u);
}

// "MsiRemovePatches": ERROR_INVALID_PARAMETER, ERROR_PATCH_PACKAGE_OPEN_FAILED,
// ERROR_UNKNOWN_PRODUCT, ERROR_PATCH_PACKAGE_INVALID, ERROR_PATCH_PACKAGE_UNSUPPORTED,
// ERROR_PATCH_REMOVAL_UNSUPPORTED, ERROR_UNKNOWN_PATCH, ERROR_PATCH_REMOVAL_DISALLOWED besides
// success; 3010 and 1641 as for applying. A failure rolls back what was removed before it.
TEST_F(Removal, AnswersOfMsiRemovePatches)
{
    for (UINT code : {ERROR_INVALID_PARAMETER, ERROR_PATCH_PACKAGE_OPEN_FAILED, ERROR_UNKNOWN_PRODUCT,
                      ERROR_PATCH_PACKAGE_INVALID, ERROR_PATCH_PACKAGE_UNSUPPORTED, ERROR_PATCH_REMOVAL_UNSUPPORTED,
                      ERROR_UNKNOWN_PATCH, ERROR_PATCH_REMOVAL_DISALLOWED}) {
        SCOPED_TRACE(code);
        SetUp();
        ScriptAppliedRemovablePatches();
        fake.removeResults = {ERROR_SUCCESS, code};
        EXPECT_EQ(RunRemoval(), static_cast<int>(code));
        EXPECT_EQ(Removed().size(), 2u) << "the rest are not started";
        EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction").back(), L"MsiEndTransaction(0)");
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::RolledBack);
        EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 1).status, PatchStatus::Failed);
        EXPECT_EQ(record->failedStep, RunStep::Removing);
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(Count(log, L"MsiRemovePatches failed with error=" + std::to_wstring(code)), 1u);
        EXPECT_EQ(log.back(), L"MSI transaction rolled back.");
    }
    for (UINT code : {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_INITIATED}) {
        SetUp();
        ScriptAppliedRemovablePatches();
        fake.removeResults = {code};
        EXPECT_EQ(RunRemoval(), static_cast<int>(ERROR_SUCCESS_REBOOT_REQUIRED));
        EXPECT_EQ(Log().back(), L"One or more of the updates removed require a reboot.");
    }
}

// A product whose package restarts Windows is taken out of the transaction, as for applying.
TEST_F(Removal, AnInstallationThatRestartsWindowsIsChangedAfterTheTransactionOnItsOwn)
{
    ScriptAppliedRemovablePatches();
    fake.products[L"{C}"].restartAction = L"ScheduleReboot";
    EXPECT_EQ(RunRemoval(), 0);
    std::vector<std::wstring> calls = fake.calls;
    auto commit = std::find(calls.begin(), calls.end(), L"MsiEndTransaction(1)");
    auto own = std::find(calls.begin(), calls.end(), L"MsiRemovePatchesW(" + b + L", {C}, 2, REBOOT=ReallySuppress)");
    ASSERT_NE(own, calls.end());
    EXPECT_GT(own, commit);
    EXPECT_EQ(RecordedInstallation(L"{C}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Outside);
}

// "MsiDeterminePatchSequence" may fail (its page lists a dozen errors); a removal does not need
// the order to be safe, only to be tidy: it goes on in the reverse of the carried order.
TEST_F(Removal, WithoutWindowsInstallersOrderRemovesInTheReverseCarriedOrder)
{
    ScriptAppliedRemovablePatches();
    fake.products[L"{A}"].sequence = {{ERROR_SUCCESS, 1}, {ERROR_SUCCESS, 0}};
    EXPECT_EQ(RunRemoval(), 0);
    EXPECT_EQ(Removed(), (std::vector<std::wstring>{b + L", {C}", a + L", {A}", b + L", {A}"}))
        << "b.msp applied first on {A} by Windows Installer's order, so removed last";

    SetUp();
    ScriptAppliedRemovablePatches();
    fake.products[L"{A}"].sequence = {{ERROR_SUCCESS, 1}, {ERROR_SUCCESS, 0}};
    fake.products[L"{A}"].sequenceResult = ERROR_FUNCTION_FAILED;
    EXPECT_EQ(RunRemoval(), 0);
    EXPECT_EQ(Removed(), (std::vector<std::wstring>{b + L", {C}", b + L", {A}", a + L", {A}"}));
    EXPECT_EQ(Count(Log(), L"MsiDeterminePatchSequence failed with error=1627; removing in the reverse carried order."),
              1u);
}
