// Unpacking the carried files from the payload into a folder.
#pragma once

#include "RunRecord.h"
#include "Sha256Pipe.h"
#include "UpdateTable.h"

// Reads the update table from appState.payloadFile (which stands at the entry count) and
// writes every carried file into folder, noting each in record. With hash, each file's SHA-256
// is computed while it is copied (on the pipe's second thread) and recorded with it. On success
// the table goes to *table when given. 0 on success, 1 on failure (one line logged and
// recorded).
int ExtractUpdates(const wchar_t* folder, UpdateTable* table, RunRecord& record, Sha256Pipe* hash);
