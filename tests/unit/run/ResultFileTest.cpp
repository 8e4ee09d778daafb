// The result document made from the run's record: each patch's status as the run steps
// report it, the outcome that the steps, the run's result and the exit code allow, the
// failure, and the file written whole under a temporary name without following links.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>

#include <cwchar>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "AppState.h"
#include "Log.h"
#include "ResultFile.h"
#include "RunRecord.h"
#include "Sha256.h"
#include "TestFiles.h"
#include "VerboseLogs.h"

namespace {

std::string Document(RunRecord& record, int exitCode)
{
    SYSTEMTIME end{};
    end.wYear = 2026;
    end.wMonth = 1;
    end.wDay = 2;
    end.wHour = 3;
    end.wMinute = 4;
    end.wSecond = 5;
    end.wMilliseconds = 6;
    record.RecordExitCode(exitCode);
    JsonWriter json;
    FormatRunResult(json, record, end);
    EXPECT_TRUE(json.Complete());
    return std::string(json.Data(), json.Size());
}

// The values of every member with this name, in document order, as written (strings keep
// their quotes; an object or array shows as its opening bracket).
std::vector<std::string> Values(const std::string& document, const std::string& name)
{
    std::vector<std::string> values;
    std::string key = "\"" + name + "\": ";
    for (size_t at = document.find(key); at != std::string::npos; at = document.find(key, at + 1)) {
        size_t start = at + key.size();
        size_t end = document.find('\n', start);
        std::string value = document.substr(start, end - start);
        if (!value.empty() && value.back() == ',')
            value.pop_back();
        values.push_back(value);
    }
    return values;
}

std::string Value(const std::string& document, const std::string& name)
{
    std::vector<std::string> values = Values(document, name);
    EXPECT_EQ(values.size(), 1u) << name;
    return values.empty() ? std::string() : values[0];
}

struct Carried {
    const wchar_t* name;
    uint32_t size;
};

// The update table as extraction records it.
void RecordFiles(RunRecord& record, std::initializer_list<Carried> files)
{
    for (const Carried& file : files)
        record.RecordCarriedFile(file.name, wcslen(file.name), file.size);
}

// A file's bytes as extraction hashes them.
void RecordWritten(RunRecord& record, const char* bytes, size_t size)
{
    Sha256 hash;
    hash.Add(bytes, size);
    uint8_t digest[32];
    hash.Finish(digest);
    record.RecordFileWritten(&digest);
}

// A patch's target list as the run splits it.
std::vector<std::wstring> Codes(std::initializer_list<const wchar_t*> codes)
{
    return std::vector<std::wstring>(codes.begin(), codes.end());
}

class ResultDocument : public testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { ResetAppState(); }

    // A new process: the state and an empty record.
    void Fresh()
    {
        ResetAppState();
        owned.reset(new RunRecord);
        record = owned.get();
    }

    std::unique_ptr<RunRecord> owned;
    RunRecord* record = nullptr;

    // Three carried files, extracted; a.msp and b.msp target {A} (x86) and {C} (x64), c.msp
    // targets {B}, which is not installed. The run reaches both installed products.
    // The records of {A} and {C}, also their machine installations'.
    uint32_t productA = 0;
    uint32_t productC = 0;

    void RecordThreePatchesThreeProducts()
    {
        appState.runMode = RunMode::Unattended;
        appState.productName = L"Suite";
        appState.productVersion = L"2.0";
        RecordFiles(*record, {{L"a.msp", 3}, {L"b.msp", 0}, {L"c.msp", 1}});
        RecordWritten(*record, "abc", 3);
        RecordWritten(*record, "", 0);
        RecordWritten(*record, "x", 1);
        record->RecordPatchTargets(0, L"{AAAAAAAA-0000-0000-0000-000000000000}", Codes({L"{A}", L"{C}"}));
        record->RecordPatchTargets(1, L"", Codes({L"{C}", L"{A}"}));
        record->RecordPatchTargets(2, L"{CCCCCCCC-0000-0000-0000-000000000000}", Codes({L"{B}"}));
        productA = record->RecordProduct(L"{A}", {0, 1});
        uint32_t productB = record->RecordProduct(L"{B}", {2});
        productC = record->RecordProduct(L"{C}", {0, 1});
        record->RecordInstallation(productA, MSIINSTALLCONTEXT_MACHINE, L"", PackagePlatform::X86);
        record->RecordProductNotInstalled(productB);
        record->RecordInstallation(productC, MSIINSTALLCONTEXT_MACHINE, L"", PackagePlatform::X64);
        record->RecordRunStarted();
    }
};

}  // namespace

TEST_F(ResultDocument, DescribesTheCarriedFilesWithTheirDigestsCodesAndTargets)
{
    RecordThreePatchesThreeProducts();
    record->RecordRunResult(0);
    std::string document = Document(*record, 0);
    EXPECT_EQ(document.rfind("{\n  \"schemaVersion\": 1,\n", 0), 0u);
    EXPECT_EQ(Value(document, "flavour"), sizeof(void*) == 8 ? "\"x64\"" : "\"x86\"");
    EXPECT_EQ(Value(document, "mode"), "\"unattended\"");
    EXPECT_EQ(Value(document, "endTime"), "\"2026-01-02T03:04:05.006Z\"");
    EXPECT_EQ(Value(document, "productName"), "\"Suite\"");
    EXPECT_EQ(Value(document, "extractFolder"), "null");
    EXPECT_EQ(Values(document, "size"), (std::vector<std::string>{"3", "0", "1"}));
    EXPECT_EQ(Values(document, "written"), (std::vector<std::string>{"true", "true", "true"}));
    EXPECT_EQ(Values(document, "sha256"),
              (std::vector<std::string>{"\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"",
                                        "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\"",
                                        "\"2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881\""}));
    EXPECT_EQ(Values(document, "patchCode"),
              (std::vector<std::string>{"\"{AAAAAAAA-0000-0000-0000-000000000000}\"", "null",
                                        "\"{CCCCCCCC-0000-0000-0000-000000000000}\""}));
    EXPECT_NE(document.find("\"targets\": [\n        \"{A}\",\n        \"{C}\"\n      ]"), std::string::npos);
}

TEST_F(ResultDocument, WritesTargetListsAsTheRunSplitThem)
{
    struct Case {
        std::vector<std::wstring> codes;  // as SplitProductCodes cuts "A;B;", ";A", "A;;B", ";", ""
        const char* json;
    } cases[] = {
        {{L"A", L"B"}, "[\n        \"A\",\n        \"B\"\n      ]"},
        {{L"", L"A"}, "[\n        \"\",\n        \"A\"\n      ]"},
        {{L"A", L"", L"B"}, "[\n        \"A\",\n        \"\",\n        \"B\"\n      ]"},
        {{L""}, "[\n        \"\"\n      ]"},
        {{}, "[]"},
    };
    for (const Case& c : cases) {
        Fresh();
        RecordFiles(*record, {{L"a.msp", 0}});
        record->RecordPatchTargets(0, L"", c.codes);
        EXPECT_NE(Document(*record, 1).find(std::string("\"targets\": ") + c.json), std::string::npos) << c.json;
    }
}

TEST_F(ResultDocument, GivesEachPatchOfEachProductItsStatusAndVerboseLog)
{
    RecordThreePatchesThreeProducts();
    // {A}: a.msp applied (restart), then rolled back, b.msp not applicable; {C}: a.msp already
    // applied, b.msp failed, so the run stopped and rolled back what it had applied.
    record->RecordInstallationName(productA, L"Product A");
    record->RecordPatchAnswer(productA, 0, PatchStatus::RolledBack, ERROR_SUCCESS_REBOOT_REQUIRED);
    record->RecordVerboseLog(productA, 0, VerboseLogName(L"a.msp", L"{A}"));
    record->RecordPatchAnswer(productA, 1, PatchStatus::NotApplicable, 1642);
    record->RecordInstallationName(productC, L"{C}");  // the run's stand-in for a name it could not read
    record->RecordPatchState(productC, 0, PatchStatus::AlreadyApplied, -1);
    record->RecordPatchAnswer(productC, 1, PatchStatus::Failed, 1603);
    record->RecordVerboseLog(productC, 1, VerboseLogName(L"b.msp", L"{C}"));
    record->LogFailure(RunStep::Applying, 1603, L"MsiApplyPatch failed with error=%u", 1603u);
    record->RecordRunResult(1603);

    std::string document = Document(*record, 1603);
    EXPECT_EQ(Values(document, "productCode"), (std::vector<std::string>{"\"{A}\"", "\"{B}\"", "\"{C}\""}));
    EXPECT_EQ(Values(document, "displayName"), (std::vector<std::string>{"\"Product A\"", "null", "null"}));
    EXPECT_EQ(Values(document, "installed"), (std::vector<std::string>{"true", "false", "true"}));
    EXPECT_EQ(Values(document, "context"), (std::vector<std::string>{"\"machine\"", "null", "\"machine\""}));
    EXPECT_EQ(Values(document, "platform"), (std::vector<std::string>{"\"x86\"", "null", "\"x64\""}));
    EXPECT_EQ(Values(document, "status"),
              (std::vector<std::string>{"\"rolled-back\"", "\"not-applicable\"", "\"not-applicable\"",
                                        "\"already-applied\"", "\"failed\""}));
    EXPECT_EQ(Values(document, "resultCode"), (std::vector<std::string>{"3010", "1642", "null", "null", "1603"}));
    EXPECT_EQ(Values(document, "verboseLog"),
              (std::vector<std::string>{"\"a.msp {A}.log\"", "null", "null", "null", "\"b.msp {C}.log\""}));
    EXPECT_EQ(Value(document, "outcome"), "\"failed\"");
    EXPECT_EQ(Value(document, "restartRequired"), "false");
    EXPECT_EQ(Value(document, "step"), "\"applying\"");
    EXPECT_EQ(Value(document, "errorCode"), "1603");
    EXPECT_EQ(Value(document, "message"), "\"MsiApplyPatch failed with error=1603\"");
}

TEST_F(ResultDocument, PatchesOfProductsTheRunNeverReachedAreNotAttempted)
{
    RecordThreePatchesThreeProducts();
    record->RecordRunResult(1);
    record->runResult = 1;
    record->LogFailure(RunStep::ReadingProduct, 1610,
                       L"Reading the installed package of product '%s' failed with error=%u.", L"{C}", 1610u);
    record->LogFailure(RunStep::Committing, 1, L"a later failure is logged but not recorded");
    std::string document = Document(*record, 1);
    EXPECT_EQ(Values(document, "status"),
              (std::vector<std::string>{"\"not-attempted\"", "\"not-attempted\"", "\"not-applicable\"",
                                        "\"not-attempted\"", "\"not-attempted\""}));
    EXPECT_EQ(Value(document, "step"), "\"reading-product\"");
    EXPECT_EQ(Value(document, "message"), "\"Reading the installed package of product '{C}' failed with error=1610.\"");
}

TEST_F(ResultDocument, NeverCallsARunASuccessThatItsStepsResultOrExitCodeContradict)
{
    struct Case {
        const char* what;
        RunMode mode;
        bool started;
        int runResult;  // -1: the run did not end
        bool applied;
        RunStep failed;
        int exitCode;
        const char* outcome;
        const char* restart;
    } cases[] = {
        {"applied, restart", RunMode::Unattended, true, 3010, true, RunStep::None, 3010, "\"succeeded\"", "true"},
        {"applied, window", RunMode::Interactive, true, 0, true, RunStep::None, 0, "\"succeeded\"", "false"},
        {"nothing applied", RunMode::Unattended, true, 0, false, RunStep::None, 0, "\"nothing-to-do\"", "false"},
        {"window closed after failure", RunMode::Interactive, true, 1603, false, RunStep::Applying, 0, "\"failed\"",
         "false"},
        {"failure not recorded by a step", RunMode::Unattended, true, 1, false, RunStep::None, 1, "\"failed\"",
         "false"},
        {"success but exit code 1", RunMode::Unattended, true, 0, true, RunStep::None, 1, "\"failed\"", "false"},
        {"did not end", RunMode::Interactive, true, -1, false, RunStep::None, 0, "\"failed\"", "false"},
        {"cancelled before OK", RunMode::Interactive, false, -1, false, RunStep::None, 0, "\"cancelled\"", "false"},
        {"no worker", RunMode::Interactive, false, -1, false, RunStep::Worker, 0, "\"failed\"", "false"},
        {"extracted", RunMode::Extract, false, -1, false, RunStep::None, 0, "\"succeeded\"", "false"},
        {"extraction failed", RunMode::Extract, false, -1, false, RunStep::Extraction, 1, "\"failed\"", "false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        appState.runMode = c.mode;
        RecordFiles(*record, {{L"a.msp", 0}});
        record->RecordPatchTargets(0, L"", Codes({L"{A}"}));
        uint32_t installation = record->RecordInstallation(record->RecordProduct(L"{A}", {0}),
                                                           MSIINSTALLCONTEXT_USERUNMANAGED, L"", PackagePlatform::X86);
        if (c.applied)
            record->RecordPatchAnswer(installation, 0, PatchStatus::Applied, 0);
        if (c.started)
            record->RecordRunStarted();
        if (c.runResult >= 0)
            record->RecordRunResult(c.runResult);
        if (c.failed != RunStep::None)
            record->RecordFailure(c.failed, 5, nullptr);
        std::string document = Document(*record, c.exitCode);
        EXPECT_EQ(Value(document, "outcome"), c.outcome);
        EXPECT_EQ(Value(document, "restartRequired"), c.restart);
        bool failed = std::string(c.outcome) == "\"failed\"";
        EXPECT_EQ(Value(document, "failure"), failed ? "{" : "null");
    }
}

TEST_F(ResultDocument, GivesEachContextAProductIsInstalledInARecordOfItsOwn)
{
    RecordFiles(*record, {{L"a.msp", 0}, {L"b.msp", 0}});
    record->RecordPatchTargets(0, L"", Codes({L"{A}"}));
    record->RecordPatchTargets(1, L"", Codes({L"{A}"}));
    uint32_t product = record->RecordProduct(L"{A}", {0, 1});
    uint32_t machine = record->RecordInstallation(product, MSIINSTALLCONTEXT_MACHINE, L"", PackagePlatform::X86);
    uint32_t user = record->RecordInstallation(product, MSIINSTALLCONTEXT_USERUNMANAGED, L"", PackagePlatform::X64);
    record->RecordPatchAnswer(user, 1, PatchStatus::Applied, 0);
    record->RecordPatchState(machine, 0, PatchStatus::AlreadyApplied, -1);
    std::string document = Document(*record, 0);
    EXPECT_EQ(Values(document, "productCode"), (std::vector<std::string>{"\"{A}\"", "\"{A}\""}));
    EXPECT_EQ(Values(document, "context"), (std::vector<std::string>{"\"machine\"", "\"user-unmanaged\""}));
    EXPECT_EQ(Values(document, "platform"), (std::vector<std::string>{"\"x86\"", "\"x64\""}));
    EXPECT_EQ(Values(document, "status"), (std::vector<std::string>{"\"already-applied\"", "\"not-attempted\"",
                                                                    "\"not-attempted\"", "\"applied\""}));
}

// The record's arrays move while they grow; a further installation copies its product's patch
// list from wherever that now lies.
TEST_F(ResultDocument, KeepsEveryInstallationsPatchesWhileItsRecordsGrow)
{
    RecordFiles(*record, {{L"a.msp", 0}, {L"b.msp", 0}, {L"c.msp", 0}});
    std::vector<std::wstring> codes;
    std::vector<uint32_t> products;
    for (int i = 0; i < 40; ++i) {
        codes.push_back(L"{P" + std::to_wstring(100 + i) + L"}");
        products.push_back(record->RecordProduct(codes.back(), {i % 3, (i + 1) % 3}));
    }
    for (uint32_t product : products) {
        EXPECT_EQ(record->RecordInstallation(product, MSIINSTALLCONTEXT_MACHINE, L"", PackagePlatform::X86), product);
        EXPECT_EQ(record->RecordInstallation(product, MSIINSTALLCONTEXT_USERMANAGED, L"", PackagePlatform::X64),
                  40 + product);
    }
    ASSERT_EQ(record->installations.size(), 80u);
    for (size_t i = 0; i < 40; ++i) {
        const InstallationRecord& first = record->installations[i];
        const InstallationRecord& second = record->installations[40 + i];
        EXPECT_EQ(record->Text(second.code), codes[i]);
        EXPECT_EQ(first.context, static_cast<DWORD>(MSIINSTALLCONTEXT_MACHINE));
        EXPECT_EQ(second.context, static_cast<DWORD>(MSIINSTALLCONTEXT_USERMANAGED));
        ASSERT_EQ(second.patchCount, 2u);
        EXPECT_EQ(record->patches[second.firstPatch].index, static_cast<int32_t>(i % 3));
        EXPECT_EQ(record->patches[second.firstPatch + 1].index, static_cast<int32_t>((i + 1) % 3));
    }
}

TEST_F(ResultDocument, AFailureNoStepRecordedStillHasTheRunsCode)
{
    record->RecordRunStarted();
    record->RecordRunResult(1627);
    std::string document = Document(*record, 1627);
    EXPECT_EQ(Value(document, "step"), "null");
    EXPECT_EQ(Value(document, "errorCode"), "1627");
    EXPECT_EQ(Value(document, "message"), "null");
}

namespace {

class ResultFile : public testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        appState.runMode = RunMode::Extract;
        appState.extractFolder = L"C:\\out";
        appState.logFolder = folder.path() + L"\\";
    }
    void TearDown() override { ResetAppState(); }

    std::wstring Path() const { return folder / L"TessarvaneUpdater.json"; }

    // The end of an extraction that exits with exitCode.
    void Finish(int exitCode)
    {
        record.RecordExitCode(exitCode);
        WriteResultFile(record);
    }

    TempFolder folder;
    RunRecord record;
};

}  // namespace

TEST_F(ResultFile, IsWrittenWholeAsUtf8WithoutAByteOrderMarkAndNoTemporaryFileStays)
{
    OpenLogFile();
    Finish(0);
    Bytes bytes;
    ASSERT_TRUE(ReadAllBytes(Path(), bytes));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], '{');
    EXPECT_EQ(bytes.back(), '\n');
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(Value(text, "extractFolder"), "\"C:\\\\out\"");
    EXPECT_EQ(ListFolder(folder.path()),
              (std::vector<std::wstring>{L"TessarvaneUpdater.json", L"TessarvaneUpdater.log"}));
}

TEST_F(ResultFile, IsNotWrittenWhenLoggingIsOff)
{
    Finish(1);
    EXPECT_FALSE(FileExists(Path()));
}

TEST_F(ResultFile, ReplacesLinksUnderItsNamesWithoutWritingThroughThem)
{
    Bytes secret = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(WriteAllBytes(folder / L"victim.txt", secret));
    ASSERT_TRUE(CreateHardLinkW(Path().c_str(), (folder / L"victim.txt").c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((Path() + L".tmp").c_str(), (folder / L"victim.txt").c_str(), nullptr));
    OpenLogFile();
    Finish(0);

    Bytes victim;
    ASSERT_TRUE(ReadAllBytes(folder / L"victim.txt", victim));
    EXPECT_EQ(victim, secret);
    Bytes result;
    ASSERT_TRUE(ReadAllBytes(Path(), result));
    EXPECT_EQ(result.at(0), '{');
    EXPECT_FALSE(FileExists(Path() + L".tmp"));
}

TEST_F(ResultDocument, ListsAnotherAccountsInstallationCountsItAndTellsTheStateOfAPatchNotRegistered)
{
    RecordThreePatchesThreeProducts();
    record->RecordOtherAccountInstallation(productA, MSIINSTALLCONTEXT_USERUNMANAGED, L"S-1-5-21-1-2-3-1001");
    record->RecordPatchState(productA, 0, PatchStatus::Superseded, 2);
    record->RecordPatchAnswer(productA, 1, PatchStatus::NotRegistered, 0);
    record->RecordVerboseLog(productA, 1, VerboseLogName(L"b.msp", L"{A}"));
    record->RecordFailure(RunStep::Verifying, 1603, L"Windows Installer does not list update 'b.msp' ...");
    record->RecordRunResult(1603);
    std::string document = Document(*record, 1603);
    EXPECT_EQ(Value(document, "installationsNotPatched"), "1");
    EXPECT_EQ(Value(document, "restartRequested"), "false");
    // {A} machine, {B}, {C}, then {A} for the other account with both of its patches.
    EXPECT_EQ(Values(document, "userSid"),
              (std::vector<std::string>{"null", "null", "null", "\"S-1-5-21-1-2-3-1001\""}));
    EXPECT_EQ(Values(document, "context"),
              (std::vector<std::string>{"\"machine\"", "null", "\"machine\"", "\"user-unmanaged\""}));
    EXPECT_EQ(
        Values(document, "status"),
        (std::vector<std::string>{"\"superseded\"", "\"not-registered\"", "\"not-applicable\"", "\"not-attempted\"",
                                  "\"not-attempted\"", "\"other-account\"", "\"other-account\""}));
    EXPECT_EQ(Values(document, "patchState")[0], "2");
    EXPECT_EQ(Values(document, "patchState")[1], "null");
    EXPECT_EQ(Values(document, "verboseLog")[1], "\"b.msp {A}.log\"") << "a patch not registered was applied";
    EXPECT_EQ(Value(document, "outcome"), "\"failed\"");
    EXPECT_EQ(Value(document, "step"), "\"verifying\"");
}

// What a deployment tool reads of a run that Windows Installer kept from patching some
// installations together: the run without a transaction, an installation patched on its own,
// the account's installation Windows Installer does not patch, 64-bit platforms by name, and
// patches that were made for another baseline or whose state a failed commit left unknown.
TEST_F(ResultDocument, TellsWhatWentOutsideTheTransactionWhatWasNotPatchedAndTheNewStatuses)
{
    RecordThreePatchesThreeProducts();
    record->transaction = TransactionUse::Outside;
    record->installations[productC].transaction = TransactionUse::Outside;
    record->installations[productC].platform = PackagePlatform::Arm64;
    record->RecordOtherContextInstallation(productA, MSIINSTALLCONTEXT_USERUNMANAGED, L"S-1-5-21-1-2-3-1001");
    record->RecordPatchAnswer(productA, 0, PatchStatus::Unknown, 0);
    record->RecordVerboseLog(productA, 0, VerboseLogName(L"a.msp", L"{A}"));
    record->RecordPatchAnswer(productA, 1, PatchStatus::TargetNotFound, ERROR_PATCH_TARGET_NOT_FOUND);
    record->RecordFailure(RunStep::Committing, 1603, L"Committing MSI transaction failed with error=1603.");
    record->RecordRunResult(1603);
    std::string document = Document(*record, 1603);
    EXPECT_EQ(Values(document, "transaction"), (std::vector<std::string>{"false", "null", "null", "false", "null"}))
        << "the run's, then {A}, {B}, {C} and {A}'s other context";
    EXPECT_EQ(Values(document, "platform"), (std::vector<std::string>{"\"x86\"", "null", "\"arm64\"", "null"}));
    EXPECT_EQ(Value(document, "installationsNotPatched"), "1");
    EXPECT_EQ(
        Values(document, "status"),
        (std::vector<std::string>{"\"unknown\"", "\"target-not-found\"", "\"not-applicable\"", "\"not-attempted\"",
                                  "\"not-attempted\"", "\"other-context\"", "\"other-context\""}));
    EXPECT_EQ(Values(document, "verboseLog")[0], "\"a.msp {A}.log\"") << "Windows Installer was asked to apply it";
    EXPECT_EQ(Values(document, "verboseLog")[1], "null");
}
