// The verbose logs' stay in the working folder and their copy into the log folder.
#include "VerboseLogs.h"

#include <windows.h>
#include <strsafe.h>

#include <cstdint>

#include "Files.h"
#include "UniqueHandle.h"
#include "Log.h"
#include "LogFolderFile.h"

namespace {

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

std::wstring VerboseLogName(const wchar_t* fileName, const std::wstring& productCode)
{
    return std::wstring(fileName) + L" " + productCode + L".log";
}

std::wstring VerboseLogs::Place(const wchar_t* workingFolder, const std::wstring& name)
{
    // The carried patches lie in the same folder under names of their own choosing.
    std::wstring path;
    for (;;) {
        wchar_t file[64];
        StringCchPrintfW(file, ARRAYSIZE(file), L"TessarvaneUpdater-verbose-%u.log", nextNumber_++);
        path = std::wstring(workingFolder) + L"\\" + file;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    recorded_.push_back(RecordedVerboseLog{path, name});
    return path;
}

void VerboseLogs::CopyToLogFolder()
{
    for (const RecordedVerboseLog& log : recorded_) {
        FileHandle source(CreateFileW(log.workingPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!source) {
            LogFormattedMessage(L"The verbose log '%s' was not written.", log.name.c_str());
            continue;
        }
        FileHandle target = OpenLogFolderFile(log.name.c_str());
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
    recorded_.clear();
    nextNumber_ = 1;
}
