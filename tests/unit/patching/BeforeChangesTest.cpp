// What the update run checks between its reading and its first change: Windows Installer's
// cached copies, which it needs to patch an installation, and the wait (-w) for another
// installation, with a real mutex held by a thread of this test standing in for it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "OtherInstallation.h"
#include "UpdateRunFixture.h"

namespace {

const wchar_t waiting[] = L"Another installation is in progress; waiting up to 1 seconds for it to end.";

}  // namespace

// Windows Installer reinstalls the patched features from its cached package and reapplies
// every applied patch from its cached copy: with one gone it fails halfway through the
// transaction with 1612 or asks for the source. The run finds that first and changes nothing.
TEST_F(UpdateRun, AMissingCachedPackageOrPatchEndsTheRunWith1612BeforeAnyChange)
{
    ScriptTwoPatchesThreeTargets();
    fake.missingFiles = {PackagePath(L"{C}", fake.products[L"{C}"])};
    EXPECT_EQ(RunUpdates(), static_cast<int>(ERROR_INSTALL_SOURCE_ABSENT));
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_TRUE(CallsStartingWith(L"MsiApplyMultiplePatchesW").empty());
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::PackageCacheMissing);
    EXPECT_EQ(record->failedStep, RunStep::PackageCache);
    EXPECT_EQ(Count(Log(),
                    L"The cached package of product '{C}' (per-machine) is missing: C:\\cache\\{C}.msi. "
                    L"Repair or reinstall the product before updating it."),
              1u);

    // An earlier patch of {A}: its cached copy is needed once another patch is applied.
    SetUp();
    ScriptTwoPatchesThreeTargets();
    fake.appliedPatches.insert(AppliedKey(L"{0LD}", L"{A}", MSIINSTALLCONTEXT_MACHINE));
    fake.missingFiles = {CachedPatchPath(L"{0LD}")};
    EXPECT_EQ(RunUpdates(), static_cast<int>(ERROR_INSTALL_SOURCE_ABSENT));
    EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
    EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::PackageCacheMissing);
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotAttempted)
        << "another installation's patches are not blamed";
    EXPECT_EQ(Count(Log(),
                    L"The cached copy of update {0LD}, applied to 'Product A' (per-machine), is missing: "
                    L"C:\\cache\\{0LD}.msp. Repair or reinstall the product before updating it."),
              1u);

    // Where nothing is to be applied to {A}, its patches' copies are not needed.
    SetUp();
    fake.patches = {{L"a.msp", L"{A}"}};
    fake.products[L"{A}"].name = L"Product A";
    fake.appliedPatches.insert(AppliedKey(L"{0LD}", L"{A}", MSIINSTALLCONTEXT_MACHINE));
    fake.appliedPatches.insert(AppliedKey(FakePatchCode(fake.patches[0]), L"{A}", MSIINSTALLCONTEXT_MACHINE));
    fake.missingFiles = {CachedPatchPath(L"{0LD}")};
    EXPECT_EQ(RunUpdates(), 0);
    EXPECT_EQ(Count(Log(), nothingToDo), 1u);
}

TEST_F(UpdateRun, WaitsForAnotherInstallationOnlyWhenAskedAndEndsWith1618WhenItGoesOn)
{
    auto script = [] {
        fake.patches = {{L"a.msp", L"{A}"}};
        fake.products[L"{A}"].name = L"Product A";
    };
    script();
    {
        // Without -w the run goes on at once, as it always has: Windows Installer answers.
        OtherInstallation other(INFINITE);
        EXPECT_EQ(RunUpdates(), 0);
        EXPECT_EQ(Count(Log(), committed), 1u);

        // Still running when the wait is over: nothing begun, nothing applied.
        SetUp();
        script();
        appState.waitSeconds = 1;
        StatusWatcher watcher;
        EXPECT_EQ(RunUpdates(watcher.get()), static_cast<int>(ERROR_INSTALL_ALREADY_RUNNING));
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_EQ(record->failedStep, RunStep::Waiting);
        EXPECT_EQ(Count(watcher.texts(), waiting), 1u);
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(Count(log, waiting), 1u);
        EXPECT_EQ(Count(log, L"Another installation was still in progress after 1 seconds."), 1u);
    }

    // One that ends during the wait: the run goes on.
    SetUp();
    script();
    appState.waitSeconds = 60;
    {
        OtherInstallation other(300);
        EXPECT_EQ(RunUpdates(), 0);
    }
    std::vector<std::wstring> log = Log();
    EXPECT_EQ(Count(log, L"Another installation is in progress; waiting up to 60 seconds for it to end."), 1u);
    EXPECT_EQ(Count(log, L"The other installation has ended."), 1u);
    EXPECT_EQ(Count(log, committed), 1u);

    // None running: no line at all.
    SetUp();
    script();
    appState.waitSeconds = 60;
    EXPECT_EQ(RunUpdates(), 0);
    EXPECT_EQ(Count(Log(), L"The other installation has ended."), 0u);
}
