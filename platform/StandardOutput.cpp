// The standard-output line. A GUI program gets no console: its standard output is what its
// parent handed it, or nothing.
#include "StandardOutput.h"

#include <windows.h>

#include <string>

bool WriteStandardOutputLine(const std::wstring& line)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return false;
    DWORD type = GetFileType(output);
    if (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK)
        return false;
    std::wstring text = line + L"\r\n";
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    return WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}
