// Windows Installer's two-call protocol for a text whose length is not known: a first call
// with no room tells the length without its terminator, a second call with length + 1
// characters reads it. Summary information is asked with an empty buffer and answers the length
// with ERROR_MORE_DATA; product and patch information are asked with no buffer and answer it
// with ERROR_SUCCESS. Any thread.
#pragma once

#include <windows.h>

#include <vector>

// call(buffer, &count) makes the function's call; lengthAnswer is the answer that gives the
// length. buffer receives the terminated text. ERROR_SUCCESS, or the error of the call that
// failed; a length query that answers success where it should not (no such text) gives
// ERROR_INVALID_DATA.
template <typename Call>
UINT ReadInstallerText(UINT lengthAnswer, Call call, std::vector<wchar_t>& buffer)
{
    wchar_t empty[1] = L"";
    DWORD count = 0;
    UINT result = call(lengthAnswer == ERROR_MORE_DATA ? empty : nullptr, &count);
    if (result != lengthAnswer)
        return result == ERROR_SUCCESS ? ERROR_INVALID_DATA : result;
    count += 1;
    buffer.assign(count, L'\0');
    result = call(buffer.data(), &count);
    if (result != ERROR_SUCCESS)
        return result;
    buffer.back() = L'\0';
    return ERROR_SUCCESS;
}
