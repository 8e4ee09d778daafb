// What a run did, the one record of its outcome: the carried files with their digests, what
// each patch targets, each installation of each targeted product with what became of each of
// its patches, the step that failed, the run's result and its exit code. One record belongs to
// one run, which hands it to whatever it asks to do a part of the work; the result file (ResultFile.h)
// is written from it as it stands. Used by one thread at a time: the main thread during
// start-up, in extract mode and at the end of the process, the window's worker during an update
// run (the main thread looks at it again only once the worker has reported its outcome).
// Texts live in one pool and records refer to them by place, which keeps the program small;
// installations are referred to by their place in the record.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"
#include "PatchStatus.h"
#include "RecordArray.h"

// The steps that can stop a run; the result file names them.
enum class RunStep : uint8_t {
    None,
    CommandLine,     // the command line was rejected (an unattended run: no usage box)
    Payload,         // the updater's own payload cannot be read
    Extraction,      // the carried files cannot be read or written
    ReadingPatch,    // a patch's target list cannot be read
    ReadingProduct,  // an installed product's package cannot be read
    Sequencing,      // Windows Installer cannot order a product's patches, or none fits it
    Beginning,       // the transaction cannot begin
    Applying,        // a patch failed
    Committing,      // the transaction cannot commit
    WorkingFolder,   // the working folder cannot be made
    Worker,          // the worker thread cannot start
    Elevation,       // the updater does not run elevated
    Verifying,       // after the commit, Windows Installer does not list an applied patch
};
const int runStepCount = 14;

// How a run ended, as the result file names it.
enum class RunOutcome : uint8_t {
    Succeeded,    // a patch was applied, or every carried file extracted
    NothingToDo,  // the run ended well without applying anything
    Failed,
    Cancelled,  // the window closed before the run began
};

// True for the run results that mean the patches are in place: 0, and 3010 (applied, a
// restart needed).
bool RunSucceeded(int result);

// The process's exit code once the window of a run that ended with result has closed: nobody
// sees an unattended window, so its result is its only report; an interactive window has shown
// its outcome and always ends with 0.
int RunExitCode(RunMode mode, int result);

// The platform an installed package is built for, as its template names it.
enum class PackagePlatform : uint8_t { Unknown, X86, X64, Arm64, Ia64 };

// Whether patches went through the run's transaction: not asked (nothing was applied, or the
// run did not get so far), inside it, or applied on their own without one.
enum class TransactionUse : uint8_t { None, Inside, Outside };

// A text in the record's pool.
struct PooledText {
    uint32_t offset = 0;
    uint32_t length = 0;
};

struct CarriedFileRecord {
    PooledText name;
    uint32_t size;
    bool written;      // every byte is in the output folder
    bool hashed;       // sha256 holds their digest
    bool summaryRead;  // patchCode and targets come from the patch
    uint8_t sha256[32];
    wchar_t patchCode[39];     // empty: the revision number does not begin with a GUID
    uint32_t firstTarget;      // its target product codes, in the record's targets
    uint32_t targetCount;      // as the run splits the patch's list
    PooledText restartAction;  // the first restart action its transforms add; empty: none
};

struct PatchRecord {
    int32_t index;  // into the carried files
    PatchStatus status;
    // Windows Installer answered for this patch and installation: the patching call (Applied,
    // Failed, and RolledBack, NotRegistered and Unknown, which keep that answer) or the
    // sequencing (NotApplicable, TargetNotFound).
    bool hasResult;
    uint32_t resultCode;
    int32_t patchState;     // the MSIPATCHSTATE Windows Installer listed it with; -1: none read
    PooledText verboseLog;  // its verbose log's name in the log folder; empty: none was asked for
};

// One target product, or one installation of it when it is installed in several contexts or
// for several accounts.
struct InstallationRecord {
    PooledText code;           // as the patches spell it
    PooledText displayName;    // empty: not read
    int8_t installed;          // -1: the run did not get as far as asking
    PackagePlatform platform;  // of the installed package; Unknown where not read
    DWORD context;             // an MSIINSTALLCONTEXT; 0 while unknown
    PooledText userSid;        // the account of a per-user installation; empty for the machine
    bool otherAccount;         // another account's per-user installation: not patched by this run
    bool otherContext;         // the account's installation that Windows Installer does not patch
    TransactionUse transaction;
    uint32_t firstPatch;  // its patches: one per entry of its index list, in that order
    uint32_t patchCount;
};

class RunRecord {
public:
    RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // A pooled text as a string of its own, and where its characters are.
    std::wstring Text(const PooledText& text) const;
    const wchar_t* Characters(const PooledText& text) const { return pool_.data() + text.offset; }

    // Extraction: each entry of the update table once read (its name need not be terminated
    // within nameCapacity), then each file once written whole, in table order, with the digest
    // of its bytes where they were hashed (null otherwise).
    void RecordCarriedFile(const wchar_t* name, size_t nameCapacity, uint32_t size);
    void RecordFileWritten(const uint8_t (*sha256)[32]);

    // A patch's code (empty when it has none) and its target product codes, in table order.
    void RecordPatchTargets(int32_t index, const wchar_t* patchCode, const std::vector<std::wstring>& targets);
    // The patch code of the carried file at index, as RecordPatchTargets noted it; empty when it
    // has none or was not read.
    std::wstring PatchCode(int32_t index) const;
    // The restart action that the patch's transforms add, as the log names it.
    void RecordPatchRestartAction(int32_t index, const std::wstring& action);
    std::wstring PatchRestartAction(int32_t index) const;

    // Each product the patches target, with its index list, in the run's order. Gives the
    // product's place in the record, which is also its first installation's.
    uint32_t RecordProduct(const std::wstring& code, const std::vector<int32_t>& indexes);
    // A target that is installed in no context: its patches are not applicable.
    void RecordProductNotInstalled(uint32_t product);
    // An installation of the product in one context (userSid empty for the machine), with its
    // package's platform: the product's own record for its first installation, a record of its
    // own (after all others, with the same patches) for each further one. Gives the
    // installation's place.
    uint32_t RecordInstallation(uint32_t product, DWORD context, const std::wstring& userSid, PackagePlatform platform);
    // Another account's per-user installation, which the run cannot patch: every patch of it is
    // recorded as such.
    void RecordOtherAccountInstallation(uint32_t product, DWORD context, const std::wstring& userSid);
    // The running account's installation in a context that Windows Installer does not patch,
    // since the account has the product in the context it prefers too.
    void RecordOtherContextInstallation(uint32_t product, DWORD context, const std::wstring& userSid);
    // The name the run gave the installation (the product code itself when none could be read,
    // which is recorded as no name).
    void RecordInstallationName(uint32_t installation, const std::wstring& displayName);
    // The installation's patch at position in its index list.
    PatchRecord& InstallationPatch(uint32_t installation, size_t position);
    // What Windows Installer answered for that patch: the patching call's or the sequencing's code.
    void RecordPatchAnswer(uint32_t installation, size_t position, PatchStatus status, uint32_t resultCode);
    // The state Windows Installer lists the patch with, and what that makes of it.
    void RecordPatchState(uint32_t installation, size_t position, PatchStatus status, int32_t patchState);
    // The name of the verbose log that Windows Installer was given for the patch.
    void RecordVerboseLog(uint32_t installation, size_t position, const std::wstring& name);
    // The number of installations that this run could not patch: other accounts' ones and the
    // account's own in a context Windows Installer does not patch.
    uint32_t InstallationsNotPatched() const;
    // The name the log gives an installation: its product's name, or its code when none was read.
    std::wstring InstallationName(uint32_t installation) const;

    void RecordRunStarted() { runStarted = true; }
    void RecordRunResult(int result);
    void RecordRestartRequested() { restartRequested = true; }
    // The process's exit code, which ends the record: its outcome follows from it and from
    // what the run recorded.
    void RecordExitCode(int code);

    // Logs the failure's line (a format written in the program and its values, cut at 511
    // characters) and records it as the step that stopped the run, with its error code. Only
    // the first failure of a run is recorded; every one is logged.
    void LogFailure(RunStep step, uint32_t errorCode, const wchar_t* format, ...);
    // Records a failure that the log has no line for; message may be null.
    void RecordFailure(RunStep step, uint32_t errorCode, const wchar_t* message);

    SYSTEMTIME startTime;  // UTC
    RecordArray<CarriedFileRecord> files;
    RecordArray<PooledText> targets;  // every patch's target codes, each patch's in one run
    // In the run's order: ascending code, then further installations.
    RecordArray<InstallationRecord> installations;
    RecordArray<PatchRecord> patches;
    bool runStarted = false;
    bool runEnded = false;
    bool restartRequested = false;  // the restart question was answered Yes
    // Inside: the run began a transaction; Outside: Windows Installer refused one because
    // rollback is disabled, and the run applied its patches without.
    TransactionUse transaction = TransactionUse::None;
    int runResult = 1;
    RunStep failedStep = RunStep::None;
    uint32_t failureCode = 0;
    PooledText failureMessage;
    int exitCode = 0;
    RunOutcome outcome = RunOutcome::Cancelled;

private:
    PooledText Pool(const wchar_t* text, size_t length);
    uint32_t InstallationFor(uint32_t product, DWORD context, const std::wstring& userSid);
    InstallationRecord& NotPatched(uint32_t product, DWORD context, const std::wstring& userSid, PatchStatus status);

    std::wstring pool_;
    size_t filesWritten_ = 0;  // the files before this one are complete
};
