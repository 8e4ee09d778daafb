// The run object: each mode's path through the run's steps, and the end every path shares.
#include "UpdateRun.h"

#include "AppState.h"
#include "ApplyUpdates.h"
#include "Elevation.h"
#include "Extraction.h"
#include "ResultFile.h"
#include "RestartSystem.h"
#include "WorkingFolder.h"

Sha256Pipe* UpdateRun::Hash()
{
    // The carried files' digests appear only in the result file; hashing every carried byte for
    // nothing would make extraction several times slower than the copy.
    return WritesResultFile() ? &hash_ : nullptr;
}

int UpdateRun::Extract()
{
    return ExtractUpdates(appState.extractFolder.c_str(), nullptr, record_, Hash());
}

RunEnd UpdateRun::Run(const UpdateProgress& progress)
{
    record_.RecordRunStarted();

    // Checked before anything is made: without elevation the protected working folder could be
    // created but neither written nor removed.
    if (!RunsAsAdministratorOrSystem()) {
        record_.LogFailure(RunStep::Elevation, ERROR_ACCESS_DENIED,
                           L"The updater must run elevated, as an administrator or as SYSTEM.");
        return End(ERROR_ACCESS_DENIED);
    }

    // A folder that exists already is not this run's: it is neither used nor deleted. There is
    // no other place to fall back to; CreateWorkingFolder has logged why.
    workingFolder_ = MakeWorkingFolderPath();
    if (!CreateWorkingFolder(workingFolder_, record_))
        return End(1);
    folderCreated_ = true;

    RunContext context{workingFolder_.c_str(), record_, verboseLogs_, Hash()};
    int result = ApplyUpdates(context, progress);

    // Nobody sees an unattended run: its exit code tells of the restart, and the deployment tool
    // decides when.
    bool restart = result == ERROR_SUCCESS_REBOOT_REQUIRED && appState.runMode == RunMode::Interactive &&
                   progress.ConfirmRestart();
    if (restart)
        record_.RecordRestartRequested();
    RunEnd end = End(result);
    if (restart)
        RestartSystem();
    return end;
}

RunEnd UpdateRun::End(int result)
{
    record_.RecordRunResult(result);
    int exitCode = RunExitCode(appState.runMode, result);
    record_.RecordExitCode(exitCode);
    WriteReports();
    return RunEnd{RunSucceeded(result), exitCode};
}

void UpdateRun::WriteReports()
{
    // The last Windows Installer call is behind: the verbose logs are complete.
    verboseLogs_.CopyToLogFolder();
    WriteResultFile(record_);
    reported_ = true;
}

RunEnd UpdateRun::Start(void* run, const UpdateProgress& progress)
{
    return static_cast<UpdateRun*>(run)->Run(progress);
}

RunEnd UpdateRun::NotStarted(void* run, unsigned long error)
{
    UpdateRun* self = static_cast<UpdateRun*>(run);
    self->record_.LogFailure(RunStep::Worker, error, L"Updater thread creation failed.");
    return RunEnd{false, RunExitCode(appState.runMode, 1)};
}

RunStarter UpdateRun::Starter()
{
    RunStarter starter;
    starter.run = this;
    starter.start = Start;
    starter.notStarted = NotStarted;
    return starter;
}

int UpdateRun::Finish(int exitCode)
{
    if (folderCreated_)
        DeleteWorkingFolder(workingFolder_.c_str());
    if (!reported_) {
        record_.RecordExitCode(exitCode);
        WriteReports();
    }
    return exitCode;
}
