// Reading PID_REVNUMBER with the two-call protocol of summary properties.
#include "PatchCode.h"

#include <msidefs.h>
#include <msiquery.h>

#include <vector>

#include "RunRecord.h"

void RecordPatchSummary(int index, MSIHANDLE summary, const wchar_t* targets)
{
    wchar_t code[39] = L"";
    UINT dataType = 0;
    DWORD count = 0;
    if (MsiSummaryInfoGetPropertyW(summary, PID_REVNUMBER, &dataType, nullptr, nullptr, code, &count) ==
        ERROR_MORE_DATA) {
        std::vector<wchar_t> buffer(++count, L'\0');
        if (MsiSummaryInfoGetPropertyW(summary, PID_REVNUMBER, &dataType, nullptr, nullptr, buffer.data(), &count) ==
                ERROR_SUCCESS &&
            count >= 38 && buffer[0] == L'{' && buffer[37] == L'}') {
            buffer[38] = L'\0';
            for (int i = 0; i < 39; ++i)
                code[i] = buffer[i];
        }
    }
    RecordPatchTargets(index, code, targets);
}
