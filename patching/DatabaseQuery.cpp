// The fixed queries' one way through a view.
#include "DatabaseQuery.h"

#include <msiquery.h>

#include "MsiHandle.h"

UINT QueryFirstText(MSIHANDLE database, const wchar_t* query, wchar_t* value, DWORD capacity, bool* found, UINT* read)
{
    *found = false;
    value[0] = L'\0';
    MsiHandle view;
    UINT result = MsiDatabaseOpenViewW(database, query, view.put());
    if (result == ERROR_BAD_QUERY_SYNTAX)
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return result;
    result = MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS)
        return result;
    MsiHandle record;
    result = MsiViewFetch(view.get(), record.put());
    if (result == ERROR_NO_MORE_ITEMS)
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return result;
    *found = true;
    DWORD count = capacity;
    *read = MsiRecordGetStringW(record.get(), 1, value, &count);
    if (*read != ERROR_SUCCESS)
        value[0] = L'\0';
    return ERROR_SUCCESS;
}
