// The log file: creation at start-up and one WriteFile per line. Lines go straight to the
// file without buffering, so a log survives whatever happens to the process later.
#include "Log.h"

#include <strsafe.h>

#include <cstdarg>
#include <string>

#include "AppState.h"

bool IsPlainLogFile(const BY_HANDLE_FILE_INFORMATION& information)
{
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return information.nNumberOfLinks == 1;
}

void OpenLogFile()
{
    // The log folder is often one that others can write to (-l alone names the updater's own
    // folder). A link placed there under the log's name must not make this elevated program
    // empty or write the file it points at, so the file is opened as it is, without following
    // a reparse point and without emptying it, and emptied only once it proves to be a plain
    // file with one name.
    std::wstring path = appState.logFolder + L"TessarvaneUpdater.log";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information) || !IsPlainLogFile(information)) {
        CloseHandle(file);
        return;
    }
    // Each run starts a fresh log, as a creation that replaces the file would.
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file)) {
        CloseHandle(file);
        return;
    }
    appState.logFile = file;
}

void FormatLogTimeStamp(const SYSTEMTIME& time, wchar_t (&stamp)[20])
{
    StringCchPrintfW(stamp, 20, L"%02hu:%02hu:%02hu.%03hu", time.wHour, time.wMinute, time.wSecond,
                     time.wMilliseconds);
}

void LogMessage(const wchar_t* text)
{
    if (appState.logFile == INVALID_HANDLE_VALUE)
        return;

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[20];
    FormatLogTimeStamp(now, stamp);

    std::wstring logEntry = stamp;
    logEntry += L"  ";
    if (text != nullptr)
        logEntry += text;
    logEntry += L"\r\n";

    DWORD written = 0;
    WriteFile(appState.logFile, logEntry.data(), static_cast<DWORD>(logEntry.size() * sizeof(wchar_t)), &written,
              nullptr);
}

void LogMessageWithoutAllocation(const wchar_t* text)
{
    if (appState.logFile == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[20];
    FormatLogTimeStamp(now, stamp);
    wchar_t message[481];
    StringCchCopyW(message, ARRAYSIZE(message), text != nullptr ? text : L"");
    wchar_t line[512];
    StringCchPrintfW(line, ARRAYSIZE(line), L"%s  %s\r\n", stamp, message);
    size_t length = 0;
    StringCchLengthW(line, ARRAYSIZE(line), &length);
    DWORD written = 0;
    WriteFile(appState.logFile, line, static_cast<DWORD>(length * sizeof(wchar_t)), &written, nullptr);
}

void LogFormattedMessage(const wchar_t* format, ...)
{
    wchar_t line[512];
    va_list values;
    va_start(values, format);
    StringCchVPrintfW(line, ARRAYSIZE(line), format, values);
    va_end(values);
    LogMessage(line);
}
