// The result file "TessarvaneUpdater.json" in the log folder: one JSON document (UTF-8, no
// byte-order mark) that tells deployment tools and scripts what the run did. Its fields are
// described by docs/result-file.schema.json, whose version is schemaVersion here. Written by the
// run's own thread once the run has made its last Windows Installer call.
#pragma once

#include <windows.h>

#include "JsonWriter.h"
#include "RunRecord.h"

const int ResultSchemaVersion = 1;

// Writes the result document of the record, which its exit code has ended, at endTime (UTC).
void FormatRunResult(JsonWriter& json, const RunRecord& record, const SYSTEMTIME& endTime);

// Whether the run writes a result file: only when logging is on.
bool WritesResultFile();

// Writes the result file of the record whole under a temporary name in the log folder and
// renames it, when logging is on.
void WriteResultFile(const RunRecord& record);
