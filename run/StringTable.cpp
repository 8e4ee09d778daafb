// Reads string-table entries through the instance handle; nothing is cached.
#include "StringTable.h"

#include "AppState.h"

std::wstring LoadResString(UINT id)
{
    wchar_t buffer[256];
    int length = LoadStringW(instanceHandle, id, buffer, 256);
    if (length <= 0)
        return std::wstring();
    return std::wstring(buffer, static_cast<size_t>(length));
}
