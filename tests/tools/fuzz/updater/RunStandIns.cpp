// Stand-ins for the parts of run/ and platform/ that the payload code calls but that are not
// under test: the log (LogMessage, LogFailure), the run's record of carried files and their
// data (RecordCarriedFile, FileDataBuffer, RecordFileData, RecordFileWritten) and the folder
// functions (DirectoryExists, CreateDirectoryPath). The real ones pull in the log file, the
// hashing thread and folder security, none of which read the payload; these only take notes.
#include "RunStandIns.h"

#include <windows.h>

#include "Fault.h"
#include "Folders.h"
#include "Log.h"
#include "RunRecord.h"

RunNotes runNotes;

void ResetRunNotes()
{
    runNotes = RunNotes();
}

void LogMessage(const wchar_t*) {}

void LogFailure(RunStep, uint32_t, const wchar_t* format, ...)
{
    if (format == nullptr)
        StopOnFault("a failure was logged without a line");
    ++runNotes.failuresLogged;
}

// The record's contract: the name need not end within nameCapacity, and is not read beyond.
void RecordCarriedFile(const wchar_t* name, size_t nameCapacity, uint32_t size)
{
    size_t length = 0;
    while (length < nameCapacity && name[length] != L'\0')
        ++length;
    runNotes.carriedFiles.push_back(CarriedFileNote{std::wstring(name, length), size});
}

uint8_t* FileDataBuffer(uint8_t* own)
{
    return own;
}

void RecordFileData(const void* data, size_t size)
{
    if (runNotes.fileData.size() <= runNotes.filesWritten)
        runNotes.fileData.resize(runNotes.filesWritten + 1);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    runNotes.fileData[runNotes.filesWritten].insert(runNotes.fileData[runNotes.filesWritten].end(), bytes,
                                                    bytes + size);
}

void RecordFileWritten()
{
    if (runNotes.fileData.size() <= runNotes.filesWritten)
        runNotes.fileData.resize(runNotes.filesWritten + 1);
    ++runNotes.filesWritten;
}

bool DirectoryExists(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CreateDirectoryPath(const wchar_t*)
{
    StopOnFault("CreateDirectoryPath: the fuzzer's output folder exists already");
}
