// Extraction of the carried files: the update table and the files' data follow the payload
// header, and the payload file's position is the read cursor, so everything is read in one
// pass without seeking. Runs on the main thread in extract mode and on the worker during an
// update run, as the only user of the payload file at that time. Owns the table it reads
// until it hands it over, and each target file while that file is written; a file whose copy
// fails is removed again.
#include "Extraction.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "AppState.h"
#include "FileHandle.h"
#include "Folders.h"
#include "Log.h"
#include "RunRecord.h"
#include "UpdateFileName.h"

enum : DWORD { CopyBufferSize = 0x8000 };

// A read counts only when it delivers every byte asked for.
static bool ReadExactly(HANDLE file, void* buffer, DWORD size)
{
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

static bool WriteExactly(HANDLE file, const void* buffer, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, buffer, size, &written, nullptr) && written == size;
}

// Bytes from the file's position to its end, or -1 when the file cannot tell.
static int64_t BytesLeft(HANDLE file)
{
    LARGE_INTEGER size;
    LARGE_INTEGER position;
    LARGE_INTEGER none = {};
    if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, none, &position, FILE_CURRENT))
        return -1;
    return size.QuadPart - position.QuadPart;
}

// Copies the next size bytes of the payload into target. Every chunk but the last is a full
// buffer; the last is only what remains of this file, so no read reaches into the next
// file's data, and counting what remains cannot overflow near 4 GiB.
static bool CopyFileData(HANDLE payload, HANDLE target, uint32_t size)
{
    uint8_t buffer[CopyBufferSize];
    uint32_t remaining = size;
    while (remaining > 0) {
        DWORD chunk = remaining > CopyBufferSize ? static_cast<DWORD>(CopyBufferSize) : remaining;
        if (!ReadExactly(payload, buffer, chunk) || !WriteExactly(target, buffer, chunk))
            return false;
        RecordFileData(buffer, chunk);
        remaining -= chunk;
    }
    return true;
}

int ExtractUpdates(const wchar_t* folder, UpdateTable* table)
{
    HANDLE payload = appState.payloadFile;
    LogMessage(L"Extracting update files.");

    uint32_t count = 0;
    if (!ReadExactly(payload, &count, sizeof count)) {
        LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read the update table.");
        return 1;
    }

    // A count larger than the rest of the file could hold would run out of entries anyway;
    // refusing it up front keeps a damaged count from growing the table without bound.
    int64_t left = BytesLeft(payload);
    if (left >= 0 && static_cast<uint64_t>(count) * sizeof(PatchFileInfo) > static_cast<uint64_t>(left)) {
        LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read update table entry.");
        return 1;
    }

    UpdateTable entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        PatchFileInfo entry;
        if (!ReadExactly(payload, &entry, sizeof entry)) {
            LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read update table entry.");
            return 1;
        }
        entries.push_back(entry);
    }
    RecordUpdateTable(entries);

    if (!DirectoryExists(folder) && CreateDirectoryPath(folder) != 0) {
        LogFailure(RunStep::Extraction, GetLastError(), L"Output directory not accessible.");
        return 1;
    }

    for (const PatchFileInfo& entry : entries) {
        // The name is joined to the folder as it stands, so it must not lead anywhere else.
        if (!IsValidUpdateFileName(entry.fileName)) {
            LogFailure(RunStep::Extraction, ERROR_INVALID_NAME, L"Invalid update file name.");
            return 1;
        }
        std::wstring path = folder;
        path += L'\\';
        path += entry.fileName;

        FileHandle target(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target) {
            LogFailure(RunStep::Extraction, GetLastError(), L"Failed to create update file.");
            return 1;
        }
        if (!CopyFileData(payload, target.get(), entry.fileSize)) {
            // A file with only part of its bytes would pass for a whole patch: remove it. The
            // files completed before it stay.
            target.reset();
            DeleteFileW(path.c_str());
            LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to extract update.");
            return 1;
        }
        RecordFileWritten();
    }

    if (table != nullptr)
        *table = std::move(entries);
    return 0;
}
