// The verbose Windows Installer log of each applied patch. Windows Installer writes it wherever
// it is told and follows any link it finds there, and its name in the log folder is
// predictable; so it is written inside the run's working folder, which only SYSTEM and
// Administrators may change, and copied into the log folder through the checked open when the
// run's window goes away. The worker records the logs during the run; the window copies them
// once the worker has reported, so the two never use the list at the same time.
#pragma once

#include <string>
#include <vector>

// For a verbose log that belongs at logFolderPath (appState.logFolder followed by its name):
// records it and gives the path inside workingFolder where Windows Installer is to write it, a
// name that no file there has yet.
std::wstring VerboseLogInWorkingFolder(const wchar_t* workingFolder, const std::wstring& logFolderPath);

// Copies each recorded log that exists into the log folder under its name there, through
// OpenLogFolderFile; a log whose place the check refuses is logged and skipped. Then forgets
// them.
void CopyVerboseLogsToLogFolder();

struct RecordedVerboseLog {
    std::wstring workingPath;  // where Windows Installer writes it
    std::wstring name;         // its name in the log folder
};

// What has been recorded and not yet copied, in order.
const std::vector<RecordedVerboseLog>& RecordedVerboseLogs();

// Forgets what has been recorded, copying nothing.
void ForgetVerboseLogs();
