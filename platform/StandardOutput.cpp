// The standard-output line. A GUI program gets no console: its standard output is what its
// parent handed it, or nothing.
#include "StandardOutput.h"

#include <windows.h>

bool WriteStandardOutputLine(const std::wstring& line)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return false;
    DWORD type = GetFileType(output);
    if (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK)
        return false;
    std::wstring text = line + L"\r\n";
    // In pieces through a buffer that holds any piece's UTF-8 (three bytes a unit at most); a
    // piece never ends between the two halves of a surrogate pair.
    const size_t piece = 256;
    char bytes[piece * 3];
    for (size_t at = 0; at < text.size();) {
        size_t length = text.size() - at < piece ? text.size() - at : piece;
        if (at + length < text.size() && IS_HIGH_SURROGATE(text[at + length - 1]))
            --length;
        int size = WideCharToMultiByte(CP_UTF8, 0, text.data() + at, static_cast<int>(length), bytes, sizeof bytes,
                                       nullptr, nullptr);
        DWORD written = 0;
        if (size <= 0 || !WriteFile(output, bytes, static_cast<DWORD>(size), &written, nullptr) ||
            written != static_cast<DWORD>(size))
            return false;
        at += length;
    }
    return true;
}
