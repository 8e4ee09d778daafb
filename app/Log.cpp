// The log file: creation at start-up and one WriteFile per line. Lines go straight to the
// file without buffering, so a log survives whatever happens to the process later.
#include "Log.h"

#include <strsafe.h>

#include <string>

#include "AppState.h"

void OpenLogFile()
{
    std::wstring path = appState.logFolder + L"TessarvaneUpdater.log";
    appState.logFile = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
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
