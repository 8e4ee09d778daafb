// Summary information text properties, read with Windows Installer's two-call size protocol.
#include "SummaryInformation.h"

#include "InstallerText.h"

UINT ReadSummaryText(MSIHANDLE summary, UINT property, std::vector<wchar_t>& buffer)
{
    UINT dataType = 0;
    auto call = [&](wchar_t* text, DWORD* count) {
        return MsiSummaryInfoGetPropertyW(summary, property, &dataType, nullptr, nullptr, text, count);
    };
    return ReadInstallerText(ERROR_MORE_DATA, call, buffer);
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
