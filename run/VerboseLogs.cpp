// The verbose logs' stay in the working folder and their copy into the log folder. The list is
// written by the worker during the run and read by the window after the worker has reported;
// the worker's synchronous outcome message orders the two, so no lock is taken.
#include "VerboseLogs.h"

#include <windows.h>
#include <strsafe.h>

#include <cstdint>

#include "AppState.h"
#include "Files.h"
#include "UniqueHandle.h"
#include "Log.h"
#include "LogFolderFile.h"

namespace {

std::vector<RecordedVerboseLog> recorded;
// The number of the next name to try; counting on from the last one given keeps two logs of
// a run apart even before Windows Installer has created the first.
unsigned nextNumber = 1;

bool CopyFileContent(HANDLE source, HANDLE target)
{
    uint8_t buffer[0x8000];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer, sizeof buffer, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (!WriteExactly(target, buffer, read))
            return false;
    }
}

}  // namespace

std::wstring VerboseLogInWorkingFolder(const wchar_t* workingFolder, const std::wstring& logFolderPath)
{
    std::wstring name = logFolderPath;
    if (name.compare(0, appState.logFolder.size(), appState.logFolder) == 0)
        name.erase(0, appState.logFolder.size());

    // The carried patches lie in the same folder under names of their own choosing.
    std::wstring path;
    for (;;) {
        wchar_t file[64];
        StringCchPrintfW(file, ARRAYSIZE(file), L"TessarvaneUpdater-verbose-%u.log", nextNumber++);
        path = std::wstring(workingFolder) + L"\\" + file;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    recorded.push_back(RecordedVerboseLog{path, name});
    return path;
}

void CopyVerboseLogsToLogFolder()
{
    for (const RecordedVerboseLog& log : recorded) {
        FileHandle source(CreateFileW(log.workingPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!source) {
            LogFormattedMessage(L"The verbose log '%s' was not written.", log.name.c_str());
            continue;
        }
        FileHandle target(OpenLogFolderFile(log.name.c_str()));
        if (!target) {
            LogFormattedMessage(
                L"The verbose log '%s' was not copied: its place in the log folder is a link or "
                L"cannot be written.",
                log.name.c_str());
            continue;
        }
        if (!CopyFileContent(source.get(), target.get()))
            LogFormattedMessage(L"The verbose log '%s' could not be copied whole.", log.name.c_str());
    }
    ForgetVerboseLogs();
}

const std::vector<RecordedVerboseLog>& RecordedVerboseLogs()
{
    return recorded;
}

void ForgetVerboseLogs()
{
    recorded.clear();
    nextNumber = 1;
}
