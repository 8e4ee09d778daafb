// The update run's fixture for its unit tests: a log folder with the log open, the fake of
// Windows Installer reset before and after, a record of the run's own for every run, and the
// checks every run must pass (no handle left open, no patch path copy left, no restart action
// applied inside a transaction); with the helpers that read back what the run did.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "AppState.h"
#include "ApplyUpdates.h"
#include "Fakes.h"
#include "Log.h"
#include "RunRecord.h"
#include "TestFiles.h"
#include "VerboseLogs.h"

inline const wchar_t folder[] = L"C:\\work";

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
        for (const std::wstring& call : fake.calls)
            EXPECT_EQ(call.find(L"RESTART-ACTION-IN-TRANSACTION"), std::wstring::npos) << testing::PrintToString(call);
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

    // One update run in a new process's record, in the working folder: ApplyUpdates's result.
    int RunUpdatesIn(const wchar_t* workingFolder, const UpdateProgress& progress)
    {
        record.reset(new RunRecord);
        verboseLogs.reset(new VerboseLogs);
        RunContext context{workingFolder, *record, *verboseLogs, nullptr};
        return ApplyUpdates(context, progress);
    }
    int RunUpdates(const UpdateProgress& progress = {}) { return RunUpdatesIn(folder, progress); }

    std::wstring Pooled(const PooledText& text) const { return record->Text(text); }

    // The patch at position in the index list of the product's installation in that context.
    const PatchRecord& RecordedPatch(const std::wstring& code, DWORD context, size_t position)
    {
        for (uint32_t i = 0; i < record->installations.size(); ++i) {
            const InstallationRecord& installation = record->installations[i];
            if (Pooled(installation.code) == code && installation.context == context && !installation.otherAccount)
                return record->InstallationPatch(i, position);
        }
        ADD_FAILURE() << "no installation recorded in context " << context;
        static PatchRecord none{};
        return none;
    }

    const InstallationRecord& RecordedInstallation(const std::wstring& code, DWORD context)
    {
        for (const InstallationRecord& installation : record->installations) {
            if (Pooled(installation.code) == code && installation.context == context && !installation.otherAccount)
                return installation;
        }
        ADD_FAILURE() << "no installation recorded in context " << context;
        static InstallationRecord none{};
        return none;
    }

    TempFolder logs;
    std::unique_ptr<RunRecord> record{new RunRecord};
    std::unique_ptr<VerboseLogs> verboseLogs{new VerboseLogs};
};

inline const wchar_t properties[] = L"REINSTALL=ALL REINSTALLMODE=omus";
inline const wchar_t suppressed[] = L"REINSTALL=ALL REINSTALLMODE=omus REBOOT=ReallySuppress";

inline std::wstring Apply(const std::wstring& file, const std::wstring& product,
                          const wchar_t* commandLine = properties)
{
    return L"MsiApplyMultiplePatchesW(C:\\work\\" + file + L", " + product + L", " + commandLine + L")";
}

// The patching calls in order, as "file product" pairs.
inline std::vector<std::wstring> Applied()
{
    std::vector<std::wstring> applied;
    for (const std::wstring& call : CallsStartingWith(L"MsiApplyMultiplePatchesW(")) {
        size_t file = call.find(L"\\work\\") + 6;
        size_t comma = call.find(L", ", file);
        applied.push_back(call.substr(file, comma - file) + L" " + call.substr(comma + 2, 3));
    }
    return applied;
}

inline const wchar_t committed[] = L"All updates applied successfully and MSI transaction committed.";
inline const wchar_t nothingToDo[] = L"No update needs applying; no MSI transaction was begun.";
inline const wchar_t question[] = L"ConfirmRestart";

inline size_t Count(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}
