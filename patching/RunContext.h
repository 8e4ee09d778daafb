// What the steps of one run work with, handed to each: the working folder, the run's record,
// its verbose logs, and the pipe that hashes the carried files where a result file will report
// their digests. Owned by the run (UpdateRun.h); used by its thread only.
#pragma once

#include "RunRecord.h"
#include "Sha256Pipe.h"
#include "VerboseLogs.h"

struct RunContext {
    const wchar_t* folder;  // the working folder, which the run created
    RunRecord& record;
    VerboseLogs& verboseLogs;
    Sha256Pipe* hash;  // null: no digests
};
