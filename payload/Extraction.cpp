// Extraction of the carried files (not yet written).
#include "Extraction.h"

#include "Log.h"

int ExtractUpdates(const wchar_t*, UpdateTable*)
{
    LogMessage(L"Extracting update files.");
    return 1;
}
