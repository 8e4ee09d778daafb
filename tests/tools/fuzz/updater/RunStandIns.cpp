// Stand-ins for the parts of run/ and platform/ that the payload code calls but that are not
// under test: the log (LogMessage, the record's LogFailure), the run's record of carried files
// (RunRecord's RecordCarriedFile and RecordFileWritten) and the folder functions
// (DirectoryExists, CreateDirectoryPath). The real ones pull in the log file and folder
// security, neither of which reads the payload; these only take notes. The fuzzer extracts
// without hashing, so no digest reaches the record.
#include "RunStandIns.h"

#include <windows.h>

#include "Fault.h"
#include "Folders.h"
#include "Log.h"
#include "RunRecord.h"
#include "Sha256Pipe.h"

RunNotes runNotes;

void ResetRunNotes()
{
    runNotes = RunNotes();
}

void LogMessage(const wchar_t*) {}

RunRecord::RunRecord() {}

void RunRecord::LogFailure(RunStep, uint32_t, const wchar_t* format, ...)
{
    if (format == nullptr)
        StopOnFault("a failure was logged without a line");
    ++runNotes.failuresLogged;
}

// The record's contract: the name need not end within nameCapacity, and is not read beyond.
void RunRecord::RecordCarriedFile(const wchar_t* name, size_t nameCapacity, uint32_t size)
{
    size_t length = 0;
    while (length < nameCapacity && name[length] != L'\0')
        ++length;
    runNotes.carriedFiles.push_back(CarriedFileNote{std::wstring(name, length), size});
}

void RunRecord::RecordFileWritten(const uint8_t (*sha256)[32])
{
    if (sha256 != nullptr)
        StopOnFault("a digest was recorded though nothing was hashed");
    ++runNotes.filesWritten;
}

// The record's arrays free their blocks through these; the stand-in record never allocates one.
HANDLE WINAPI GetProcessHeap()
{
    return nullptr;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID)
{
    StopOnFault("the stand-in record allocated a block");
}

// The fuzzer extracts without a pipe: none of these may be reached.
uint8_t* Sha256Pipe::Buffer(uint8_t*)
{
    StopOnFault("the extraction hashed without a pipe");
}

void Sha256Pipe::Add(const void*, size_t)
{
    StopOnFault("the extraction hashed without a pipe");
}

void Sha256Pipe::Finish(uint8_t (&)[32])
{
    StopOnFault("the extraction hashed without a pipe");
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
