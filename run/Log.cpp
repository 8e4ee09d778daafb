// The log file: creation at start-up and one WriteFile per line. Lines go straight to the
// file without buffering, so a log survives whatever happens to the process later.
#include "Log.h"

#include <strsafe.h>

#include <cstdarg>
#include <string>

#include "AppState.h"
#include "FatalExit.h"
#include "LogFolderFile.h"

void OpenLogFile()
{
    appState.logFile = OpenLogFolderFile(L"TessarvaneUpdater.log");
    // A fatal failure's line is written without allocating, which LogMessage would.
    SetFatalLineWriter(LogMessageWithoutAllocation);
}

void FormatLogTimeStamp(const SYSTEMTIME& time, wchar_t (&stamp)[20])
{
    StringCchPrintfW(stamp, 20, L"%02hu:%02hu:%02hu.%03hu", time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
}

// The time stamp of a line written now.
static void StampNow(wchar_t (&stamp)[20])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatLogTimeStamp(now, stamp);
}

static void WriteLogLine(const wchar_t* line, size_t length)
{
    DWORD written = 0;
    WriteFile(appState.logFile.get(), line, static_cast<DWORD>(length * sizeof(wchar_t)), &written, nullptr);
}

void LogMessage(const wchar_t* text)
{
    if (!appState.logFile)
        return;
    wchar_t stamp[20];
    StampNow(stamp);
    std::wstring logEntry = stamp;
    logEntry += L"  ";
    if (text != nullptr)
        logEntry += text;
    logEntry += L"\r\n";
    WriteLogLine(logEntry.data(), logEntry.size());
}

void LogMessageWithoutAllocation(const wchar_t* text)
{
    if (!appState.logFile)
        return;
    wchar_t stamp[20];
    StampNow(stamp);
    wchar_t message[481];
    StringCchCopyW(message, ARRAYSIZE(message), text != nullptr ? text : L"");
    wchar_t line[512];
    StringCchPrintfW(line, ARRAYSIZE(line), L"%s  %s\r\n", stamp, message);
    size_t length = 0;
    StringCchLengthW(line, ARRAYSIZE(line), &length);
    WriteLogLine(line, length);
}

void LogFormattedMessageV(wchar_t (&line)[512], const wchar_t* format, va_list values)
{
    StringCchVPrintfW(line, ARRAYSIZE(line), format, values);
    LogMessage(line);
}

void LogFormattedMessage(const wchar_t* format, ...)
{
    wchar_t line[512];
    va_list values;
    va_start(values, format);
    LogFormattedMessageV(line, format, values);
    va_end(values);
}
