// One fixed query of an open package or patch database that asks for one column. Any thread.
#pragma once

#include <windows.h>

#include <msi.h>

// The first row's text of query into value (capacity characters, terminated). ERROR_SUCCESS
// with *found false when there is no row, or no such table: the queries are fixed and sound, so
// ERROR_BAD_QUERY_SYNTAX can only mean that. With *found true, *read holds what
// MsiRecordGetStringW answered for the text (ERROR_MORE_DATA for a longer one). Otherwise the
// error of the call that failed.
UINT QueryFirstText(MSIHANDLE database, const wchar_t* query, wchar_t* value, DWORD capacity, bool* found, UINT* read);
