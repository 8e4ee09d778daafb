// Summary information text properties, read with Windows Installer's two-call size protocol.
#include "SummaryInformation.h"

UINT ReadSummaryText(MSIHANDLE summary, UINT property, std::vector<wchar_t>& buffer)
{
    UINT dataType = 0;
    wchar_t empty[1] = L"";
    DWORD count = 0;
    UINT result = MsiSummaryInfoGetPropertyW(summary, property, &dataType, nullptr, nullptr, empty, &count);
    if (result != ERROR_MORE_DATA)
        return result == ERROR_SUCCESS ? ERROR_INVALID_DATA : result;
    count += 1;
    buffer.assign(count, L'\0');
    result = MsiSummaryInfoGetPropertyW(summary, property, &dataType, nullptr, nullptr, buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';
    return ERROR_SUCCESS;
}

std::wstring ReadPatchCode(MSIHANDLE summary)
{
    const size_t guidLength = 38;
    std::vector<wchar_t> buffer;
    if (ReadSummaryText(summary, PID_REVNUMBER, buffer) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring value = buffer.data();
    if (value.size() < guidLength || value[0] != L'{' || value[guidLength - 1] != L'}')
        return std::wstring();
    return value.substr(0, guidLength);
}
