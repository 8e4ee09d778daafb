// The result file "TessarvaneUpdater.json" in the log folder: one JSON document (UTF-8, no
// byte-order mark) that tells deployment tools and scripts what the run did. Its fields are
// described by docs/result-file.schema.json, whose version is schemaVersion here.
#pragma once

#include <windows.h>

#include "JsonWriter.h"

const int ResultSchemaVersion = 1;

// Writes the result document of the run recorded so far, ending at endTime (UTC).
void FormatRunResult(JsonWriter& json, int exitCode, const SYSTEMTIME& endTime);

// Whether the run writes a result file: only when logging is on.
bool WritesResultFile();

// The last step of every way out of wWinMain once the log folder is known: writes the result
// file whole under a temporary name in the log folder and renames it, when logging is on.
// Returns exitCode.
int FinishRun(int exitCode);
