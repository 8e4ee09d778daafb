// Unpacking the carried files from the payload into a folder.
#pragma once

#include "UpdateTable.h"

// Reads the update table from appState.payloadFile (which stands at the entry count) and
// writes every carried file into folder. On success the table goes to *table when given.
// 0 on success, 1 on failure (one line logged).
int ExtractUpdates(const wchar_t* folder, UpdateTable* table);
