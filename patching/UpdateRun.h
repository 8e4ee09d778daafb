// One run of the updater, whatever its mode: its record, its working folder's life, the
// extraction, the update (ApplyUpdates.h) with the check after the commit, the verbose logs'
// copy, the result file and the restart decision. wWinMain makes one at start-up, drives it (-x
// on the main thread; the window modes through Starter(), on the window's worker) and finishes
// it on every way out. Owns the record, the verbose logs, the hashing pipe and the working
// folder. Used by one thread at a time: the worker during an update run, the main thread before
// and after it (the window's outcome message orders the two).
#pragma once

#include <windows.h>

#include <string>

#include "RunRecord.h"
#include "Sha256Pipe.h"
#include "UpdateProgress.h"
#include "VerboseLogs.h"

class UpdateRun {
public:
    UpdateRun() = default;
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // What start-up and the steps record into.
    RunRecord& Record() { return record_; }

    // -x, on the calling thread: every carried file into appState.extractFolder. 0 or 1.
    int Extract();

    // The update run of the window modes, on the window's worker: the elevation check, the
    // working folder, the update, then the restart decision (asked through progress, and only
    // in an interactive run), the verbose logs' copy and the result file; a restart the user
    // agreed to is asked of Windows after those, since Windows may end the process at once.
    RunEnd Run(const UpdateProgress& progress);

    // Run, and the record of a worker that could not start, for the window.
    RunStarter Starter();

    // The last step of every way out of wWinMain, on the main thread: removes the working
    // folder that this run made, and writes the result file, ended by exitCode, unless the run
    // wrote it already. Gives exitCode.
    int Finish(int exitCode);

    // The working folder, once the run has named it; empty before.
    const std::wstring& WorkingFolder() const { return workingFolder_; }

private:
    static RunEnd Start(void* run, const UpdateProgress& progress);
    static RunEnd NotStarted(void* run, unsigned long error);
    // Records the result and the exit code that follows from it, and writes the reports.
    RunEnd End(int result);
    void WriteReports();
    // The pipe that hashes the carried files, where a result file will report their digests.
    Sha256Pipe* Hash();

    RunRecord record_;
    VerboseLogs verboseLogs_;
    Sha256Pipe hash_;
    std::wstring workingFolder_;
    bool folderCreated_ = false;  // only a folder this run created is deleted
    bool reported_ = false;       // the result file is written
};
