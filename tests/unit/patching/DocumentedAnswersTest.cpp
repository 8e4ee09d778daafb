// Every answer that Windows Installer's documentation lists for a call of the update run, given
// by the fake as the documentation says and met as docs/windows-installer-answers.md says: one
// test per function, named after its page, each case one documented answer. Wine gives few of
// these; a real machine may give any of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpdateRunFixture.h"

namespace {

class DocumentedAnswer : public UpdateRun {
protected:
    // One run of the two patches and three targets, spoiled by spoil; its result.
    int RunWith(void (*spoil)(UINT), UINT answer)
    {
        ResetFake();
        ResetAppState();
        appState.logFolder = logs.path() + L"\\";
        OpenLogFile();
        ScriptTwoPatchesThreeTargets();
        spoil(answer);
        return RunUpdates({});
    }

    // The run ended before any transaction and before any patch, with the line and the step.
    void ExpectEndedBeforeAnythingChanged(const std::wstring& line, RunStep step, UINT code)
    {
        EXPECT_TRUE(CallsStartingWith(L"MsiBeginTransactionW").empty());
        EXPECT_TRUE(Applied().empty());
        EXPECT_EQ(Log().back(), line);
        EXPECT_EQ(record->failedStep, step);
        EXPECT_EQ(record->failureCode, code);
    }
};

std::wstring Text(UINT code)
{
    return std::to_wstring(code);
}

}  // namespace

// "MsiOpenDatabase": ERROR_CREATE_FAILED, ERROR_INVALID_PARAMETER, ERROR_OPEN_FAILED, or success.
TEST_F(DocumentedAnswer, AnswersOfMsiOpenDatabase)
{
    for (UINT code : {ERROR_OPEN_FAILED, ERROR_INVALID_PARAMETER, ERROR_CREATE_FAILED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.patches[0].openResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(L"Opening patch 'a.msp' failed with error=" + Text(code) + L".",
                                         RunStep::ReadingPatch, code);
        EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{A}"].packageOpenResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(
            L"Reading the installed package of product '{A}' failed with error=" + Text(code) + L".",
            RunStep::ReadingProduct, code);
    }
}

// "MsiGetSummaryInformation": ERROR_INSTALL_PACKAGE_INVALID, ERROR_INVALID_HANDLE,
// ERROR_INVALID_PARAMETER, or success.
TEST_F(DocumentedAnswer, AnswersOfMsiGetSummaryInformation)
{
    for (UINT code : {ERROR_INSTALL_PACKAGE_INVALID, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.patches[1].summaryResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(
            L"Reading the target products of patch 'b.msp' failed with error=" + Text(code) + L".",
            RunStep::ReadingPatch, code);
        EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{C}"].summaryResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(
            L"Reading the installed package of product '{C}' failed with error=" + Text(code) + L".",
            RunStep::ReadingProduct, code);
    }
}

// "MsiSummaryInfoGetProperty": the size query with an empty buffer answers ERROR_MORE_DATA and
// the length; a property that is not there reads as VT_EMPTY with success; ERROR_INVALID_HANDLE
// and ERROR_UNKNOWN_PROPERTY (msiquery.h). A text that grew between the two calls answers
// ERROR_MORE_DATA to the second.
TEST_F(DocumentedAnswer, AnswersOfMsiSummaryInfoGetProperty)
{
    struct Case {
        const char* what;
        void (*spoil)(UINT);
        UINT code;
        UINT logged;  // the error the run names
    };
    const Case cases[] = {
        {"patch without a template (VT_EMPTY)", [](UINT c) { fake.patches[0].sizeResult = c; }, ERROR_SUCCESS,
         ERROR_INVALID_DATA},
        {"patch's size query", [](UINT c) { fake.patches[0].sizeResult = c; }, ERROR_INVALID_HANDLE,
         ERROR_INVALID_HANDLE},
        {"patch's size query", [](UINT c) { fake.patches[0].sizeResult = c; }, ERROR_UNKNOWN_PROPERTY,
         ERROR_UNKNOWN_PROPERTY},
        {"patch's template grew", [](UINT c) { fake.patches[0].readResult = c; }, ERROR_MORE_DATA, ERROR_MORE_DATA},
        {"package without a template", [](UINT c) { fake.products[L"{A}"].templateSizeResult = c; }, ERROR_SUCCESS,
         ERROR_INVALID_DATA},
        {"package's size query", [](UINT c) { fake.products[L"{A}"].templateSizeResult = c; }, ERROR_INVALID_HANDLE,
         ERROR_INVALID_HANDLE},
        {"package's size query", [](UINT c) { fake.products[L"{A}"].templateSizeResult = c; }, ERROR_UNKNOWN_PROPERTY,
         ERROR_UNKNOWN_PROPERTY},
        {"package's template grew", [](UINT c) { fake.products[L"{A}"].templateReadResult = c; }, ERROR_MORE_DATA,
         ERROR_MORE_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunWith(c.spoil, c.code), 1);
        bool patch = std::string(c.what).compare(0, 5, "patch") == 0;
        ExpectEndedBeforeAnythingChanged(
            patch ? L"Reading the target products of patch 'a.msp' failed with error=" + Text(c.logged) + L"."
                  : L"Reading the installed package of product '{A}' failed with error=" + Text(c.logged) + L".",
            patch ? RunStep::ReadingPatch : RunStep::ReadingProduct, c.logged);
    }
    // A patch without a revision number has no code: it is applied, and cannot be found
    // registered afterwards.
    EXPECT_EQ(RunWith([](UINT) { fake.patches[0].revision = L"-"; }, 0), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(record->failedStep, RunStep::Verifying);
}

// "MsiEnumProductsEx": ERROR_SUCCESS for each installation, ERROR_NO_MORE_ITEMS at the end;
// ERROR_ACCESS_DENIED (other users' installations need an administrator), ERROR_BAD_CONFIGURATION,
// ERROR_INVALID_PARAMETER, ERROR_MORE_DATA (a SID longer than its buffer, which holds any SID),
// ERROR_UNKNOWN_PRODUCT, ERROR_FUNCTION_FAILED.
TEST_F(DocumentedAnswer, AnswersOfMsiEnumProductsEx)
{
    for (UINT code : {ERROR_ACCESS_DENIED, ERROR_BAD_CONFIGURATION, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA,
                      ERROR_UNKNOWN_PRODUCT, ERROR_FUNCTION_FAILED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.enumerateResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(L"Listing the installed products failed with error=" + Text(code) + L".",
                                         RunStep::ReadingProduct, code);
    }
}

// "MsiGetProductInfoEx": State "5" installed, "1" advertised; ERROR_UNKNOWN_PRODUCT where the
// product is not there; ERROR_ACCESS_DENIED, ERROR_BAD_CONFIGURATION, ERROR_INVALID_PARAMETER,
// ERROR_MORE_DATA, ERROR_UNKNOWN_PROPERTY, ERROR_FUNCTION_FAILED; a property the product lacks
// reads as an empty text.
TEST_F(DocumentedAnswer, AnswersOfMsiGetProductInfoEx)
{
    // LocalPackage, asked for size or read: the package cannot be read.
    for (UINT code : {ERROR_ACCESS_DENIED, ERROR_BAD_CONFIGURATION, ERROR_INVALID_PARAMETER, ERROR_UNKNOWN_PRODUCT,
                      ERROR_UNKNOWN_PROPERTY, ERROR_FUNCTION_FAILED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{C}"].packageSizeResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(
            L"Reading the installed package of product '{C}' failed with error=" + Text(code) + L".",
            RunStep::ReadingProduct, code);
    }
    EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{C}"].packageReadResult = c; }, ERROR_MORE_DATA), 1);
    EXPECT_EQ(record->failureCode, static_cast<uint32_t>(ERROR_MORE_DATA));

    // InstalledProductName: any error, or an empty text, names the product by its code.
    for (UINT code : {ERROR_UNKNOWN_PROPERTY, ERROR_BAD_CONFIGURATION, ERROR_FUNCTION_FAILED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{A}"].nameResult = c; }, code), 0);
        EXPECT_EQ(Count(Log(), L"Installing update 'a.msp' for '{A}'."), 1u);
    }

    // State: "1" (advertised) and an error are no installation of this account's; another
    // account's installation whose state cannot be read is listed all the same.
    EXPECT_EQ(RunWith(
                  [](UINT) {
                      fake.products[L"{A}"].contexts = {};
                      fake.products[L"{A}"].advertisedIn = {MSIINSTALLCONTEXT_MACHINE};
                      fake.products[L"{A}"].otherAccounts = {
                          {MSIINSTALLCONTEXT_USERMANAGED, L"S-1-5-21-9-9-9-1001", L""},
                          {MSIINSTALLCONTEXT_USERMANAGED, L"S-1-5-21-9-9-9-1002", L"1"}};
                  },
                  0),
              0);
    EXPECT_EQ(Count(Log(),
                    L"Product '{A}' is installed per-user for another account (S-1-5-21-9-9-9-1001); this run "
                    L"cannot patch it."),
              1u);
    EXPECT_EQ(Applied(), std::vector<std::wstring>{L"b.msp {C}"});
    EXPECT_EQ(record->InstallationsNotPatched(), 1u);
}

// "MsiGetPatchInfoEx": State "1" applied, "2" superseded, "4" obsolete; ERROR_UNKNOWN_PATCH for a
// patch not applied to the product, ERROR_UNKNOWN_PRODUCT; ERROR_ACCESS_DENIED,
// ERROR_BAD_CONFIGURATION, ERROR_FUNCTION_FAILED, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA,
// ERROR_UNKNOWN_PROPERTY. Before applying, any answer but a listed state leaves the patch to
// apply; after the commit, any answer but a listed state fails the run.
TEST_F(DocumentedAnswer, AnswersOfMsiGetPatchInfoEx)
{
    for (UINT code : {ERROR_UNKNOWN_PATCH, ERROR_UNKNOWN_PRODUCT, ERROR_ACCESS_DENIED, ERROR_BAD_CONFIGURATION,
                      ERROR_FUNCTION_FAILED, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA, ERROR_UNKNOWN_PROPERTY}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith(
                      [](UINT c) {
                          fake.patchStateErrors[AppliedKey(FakePatchCode(fake.patches[1]), L"{C}",
                                                           MSIINSTALLCONTEXT_MACHINE)] = c;
                      },
                      code),
                  ERROR_INSTALL_FAILURE);
        EXPECT_EQ(Applied().front(), L"b.msp {C}") << "not listed before: applied";
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotRegistered);
        EXPECT_EQ(record->failedStep, RunStep::Verifying);
    }
}

// "MsiBeginTransaction": ERROR_INSTALL_SERVICE_FAILURE, ERROR_INSTALL_ALREADY_RUNNING (one
// transaction at a time on the machine), ERROR_INVALID_PARAMETER, ERROR_ROLLBACK_DISABLED; the
// page lists no success code, and the run takes ERROR_SUCCESS as begun.
TEST_F(DocumentedAnswer, AnswersOfMsiBeginTransaction)
{
    for (UINT code : {ERROR_INSTALL_SERVICE_FAILURE, ERROR_INSTALL_ALREADY_RUNNING, ERROR_INVALID_PARAMETER}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.beginResult = c; }, code), static_cast<int>(code));
        EXPECT_TRUE(Applied().empty());
        EXPECT_TRUE(CallsStartingWith(L"MsiEndTransaction").empty());
        EXPECT_EQ(Log().back(), L"Beginning MSI transaction failed with error=" + Text(code) + L".");
        EXPECT_EQ(record->failedStep, RunStep::Beginning);
    }
    EXPECT_EQ(RunWith([](UINT c) { fake.beginResult = c; }, ERROR_ROLLBACK_DISABLED), 0);
    EXPECT_EQ(record->transaction, TransactionUse::Outside);
}

// "MsiEndTransaction": ERROR_ACCESS_DENIED, ERROR_INSTALL_FAILURE, ERROR_INSTALL_ALREADY_RUNNING,
// ERROR_ROLLBACK_DISABLED, with nothing said of what they undo; 3010 from a commit that found a
// restart needed ("REBOOT property"). A failed commit or rollback is read back patch by patch.
TEST_F(DocumentedAnswer, AnswersOfMsiEndTransaction)
{
    for (UINT code :
         {ERROR_ACCESS_DENIED, ERROR_INSTALL_FAILURE, ERROR_INSTALL_ALREADY_RUNNING, ERROR_ROLLBACK_DISABLED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.commitResult = c; }, code), static_cast<int>(code));
        EXPECT_EQ(CallsStartingWith(L"MsiEndTransaction"),
                  (std::vector<std::wstring>{L"MsiEndTransaction(1)", L"MsiEndTransaction(0)"}));
        EXPECT_EQ(record->failedStep, RunStep::Committing);
        EXPECT_EQ(Log().back(),
                  L"After the failed commit, Windows Installer lists update 'b.msp' as installed for "
                  L"'Product A' (per-machine).")
            << "the fake keeps what it applied, so every patch still reads as applied";

        // A rollback after a failed patch that fails itself.
        EXPECT_EQ(RunWith(
                      [](UINT c) {
                          fake.applyResults = {ERROR_SUCCESS, ERROR_INSTALL_FAILURE};
                          fake.rollbackResult = c;
                      },
                      code),
                  ERROR_INSTALL_FAILURE);
        std::vector<std::wstring> log = Log();
        EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
                  (std::vector<std::wstring>{L"Rolling back MSI transaction failed with error=" + Text(code) + L".",
                                             L"After the failed rollback, Windows Installer lists update 'b.msp' as "
                                             L"installed for 'Product C' (per-machine)."}));
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
    }
}

// "MsiDeterminePatchSequence": ERROR_SUCCESS with each entry's order and status; on any failure
// every order is -1. Each documented failure ends the run before the transaction.
TEST_F(DocumentedAnswer, AnswersOfMsiDeterminePatchSequence)
{
    for (UINT code :
         {ERROR_FUNCTION_FAILED, ERROR_INVALID_PARAMETER, ERROR_PATCH_NO_SEQUENCE, ERROR_INSTALL_PACKAGE_OPEN_FAILED,
          ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_PATCH_XML, ERROR_INSTALL_PACKAGE_INVALID,
          ERROR_ACCESS_DENIED, ERROR_BAD_CONFIGURATION, ERROR_UNKNOWN_PRODUCT, ERROR_FUNCTION_NOT_CALLED,
          ERROR_CALL_NOT_IMPLEMENTED, ERROR_UNKNOWN_PATCH}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{A}"].sequenceResult = c; }, code), 1);
        ExpectEndedBeforeAnythingChanged(L"MsiDeterminePatchSequence failed with error=" + Text(code),
                                         RunStep::Sequencing, code);
    }
}

// "MsiEnableLog": ERROR_INVALID_PARAMETER or success. Without its verbose log the patch is
// applied all the same; the copy of the logs says which one is missing.
TEST_F(DocumentedAnswer, AnswersOfMsiEnableLog)
{
    EXPECT_EQ(RunWith([](UINT c) { fake.enableLogResult = c; }, ERROR_INVALID_PARAMETER), 0);
    EXPECT_EQ(Applied().size(), 3u);
}

// "MsiApplyMultiplePatches": ERROR_SUCCESS (also where nothing applied), ERROR_SUCCESS_REBOOT_REQUIRED
// and ERROR_SUCCESS_REBOOT_INITIATED (a restart ended the call), ERROR_INVALID_PARAMETER,
// ERROR_PATCH_PACKAGE_OPEN_FAILED, ERROR_PATCH_PACKAGE_INVALID, ERROR_PATCH_PACKAGE_UNSUPPORTED,
// and any other error of the installation.
TEST_F(DocumentedAnswer, AnswersOfMsiApplyMultiplePatches)
{
    for (UINT code : {ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_INITIATED}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.applyResults = {c}; }, code), ERROR_SUCCESS_REBOOT_REQUIRED);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Applied);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).resultCode, code);
        EXPECT_EQ(Applied().size(), 3u) << "the run goes on";
    }
    for (UINT code : {ERROR_INVALID_PARAMETER, ERROR_PATCH_PACKAGE_OPEN_FAILED, ERROR_PATCH_PACKAGE_INVALID,
                      ERROR_PATCH_PACKAGE_UNSUPPORTED, ERROR_INSTALL_FAILURE}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith([](UINT c) { fake.applyResults = {ERROR_SUCCESS, c}; }, code), static_cast<int>(code));
        EXPECT_EQ(RecordedPatch(L"{A}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::Failed);
        EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::RolledBack);
        EXPECT_EQ(record->failedStep, RunStep::Applying);
    }
    EXPECT_EQ(RunWith([](UINT) { fake.patches[1].appliesNothing = true; }, 0), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(RecordedPatch(L"{C}", MSIINSTALLCONTEXT_MACHINE, 0).status, PatchStatus::NotRegistered);
}

// "MsiDatabaseOpenView", "MsiViewExecute", "MsiViewFetch", "MsiRecordGetString" (the answers
// their msiquery.h declarations list): the query of the installed package's
// InstallExecuteSequence. No such table is no restart action; a row is one, named or not; any
// other answer means the package cannot be read.
TEST_F(DocumentedAnswer, AnswersToTheQueryOfTheInstalledPackagesSequence)
{
    EXPECT_EQ(RunWith([](UINT c) { fake.products[L"{A}"].viewResult = c; }, ERROR_BAD_QUERY_SYNTAX), 0);
    EXPECT_EQ(RecordedInstallation(L"{A}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Inside);

    struct Case {
        const char* call;
        void (*spoil)(UINT);
        std::vector<UINT> codes;
    };
    const Case cases[] = {
        {"MsiDatabaseOpenView",
         [](UINT c) { fake.products[L"{A}"].viewResult = c; },
         {ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE_STATE, ERROR_GEN_FAILURE}},
        {"MsiViewExecute",
         [](UINT c) { fake.products[L"{A}"].executeResult = c; },
         {ERROR_FUNCTION_FAILED, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE_STATE, ERROR_GEN_FAILURE}},
        {"MsiViewFetch",
         [](UINT c) { fake.products[L"{A}"].fetchResult = c; },
         {ERROR_INVALID_HANDLE_STATE, ERROR_INVALID_HANDLE, ERROR_GEN_FAILURE, ERROR_FUNCTION_FAILED}},
    };
    for (const Case& c : cases) {
        for (UINT code : c.codes) {
            SCOPED_TRACE(std::string(c.call) + " " + std::to_string(code));
            EXPECT_EQ(RunWith(c.spoil, code), 1);
            ExpectEndedBeforeAnythingChanged(
                L"Reading the installed package of product '{A}' failed with error=" + Text(code) + L".",
                RunStep::ReadingProduct, code);
        }
    }

    for (UINT code : {ERROR_MORE_DATA, ERROR_INVALID_HANDLE, ERROR_INVALID_FIELD, ERROR_BAD_ARGUMENTS}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RunWith(
                      [](UINT c) {
                          fake.products[L"{A}"].restartAction = L"ForceReboot";
                          fake.products[L"{A}"].recordResult = c;
                      },
                      code),
                  0);
        EXPECT_EQ(Count(Log(),
                        L"Product '{A}' has ForceReboot or ScheduleReboot in its InstallExecuteSequence, which "
                        L"Windows Installer does not run inside an MSI transaction; its updates are applied "
                        L"after the transaction, on their own."),
                  1u);
        EXPECT_EQ(RecordedInstallation(L"{A}", MSIINSTALLCONTEXT_MACHINE).transaction, TransactionUse::Outside);
    }
}
