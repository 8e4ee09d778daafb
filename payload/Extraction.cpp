// Extraction of the carried files: the update table and the files' data follow the payload
// header, and the payload file's position is the read cursor, so everything is read in one
// pass without seeking. Runs on the main thread in extract mode and on the worker during an
// update run, as the only user of the payload file at that time. Owns the table it reads
// until it hands it over, and each target file while that file is written.
// Each file is written under a temporary name beside its place and takes its carried name
// only once it is whole, through the handle that wrote it; a copy that fails is deleted through
// that handle too. So no file under a carried name ever holds less than the carried bytes, not
// even after the process was killed, and no name is looked up again in a folder that others
// may write to.
#include "Extraction.h"

#include <windows.h>
#include <strsafe.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "AppState.h"
#include "UniqueHandle.h"
#include "Files.h"
#include "Folders.h"
#include "Log.h"
#include "PayloadLayout.h"
#include "UpdateFileName.h"

const DWORD CopyBufferSize = Sha256Pipe::BufferSize;

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
static bool CopyFileData(HANDLE payload, HANDLE target, uint32_t size, Sha256Pipe* hash)
{
    uint8_t own[CopyBufferSize];
    uint32_t remaining = size;
    while (remaining > 0) {
        // The pipe's buffer where it hashes what is copied, on another thread.
        uint8_t* buffer = hash != nullptr ? hash->Buffer(own) : own;
        DWORD chunk = remaining > CopyBufferSize ? static_cast<DWORD>(CopyBufferSize) : remaining;
        if (!ReadExactly(payload, buffer, chunk) || !WriteExactly(target, buffer, chunk))
            return false;
        if (hash != nullptr)
            hash->Add(buffer, chunk);
        remaining -= chunk;
    }
    return true;
}

// Gives the open file the name path, never replacing a file of that name. The output folder
// holds fewer than MAX_PATH characters and a carried name fewer than 260.
static bool RenameThroughHandle(HANDLE file, const std::wstring& path)
{
    union {
        FILE_RENAME_INFO info;
        uint8_t bytes[sizeof(FILE_RENAME_INFO) + 2 * MAX_PATH * sizeof(wchar_t)];
    } rename = {};
    size_t nameBytes = path.size() * sizeof(wchar_t);
    if (offsetof(FILE_RENAME_INFO, FileName) + nameBytes > sizeof rename)
        return false;
    rename.info.ReplaceIfExists = FALSE;
    rename.info.RootDirectory = nullptr;
    rename.info.FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename.info.FileName, path.data(), nameBytes);
    return SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof rename) != FALSE;
}

// Creates a new file for writing under a name of this process's in folder, never opening an
// existing one; the name is left in path.
static FileHandle CreateTemporaryFile(const wchar_t* folder, uint32_t index, std::wstring& path)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[64];
        StringCchPrintfW(name, ARRAYSIZE(name), L"~TessarvaneUpdater-%u-%u-%u.partial", GetCurrentProcessId(), index,
                         attempt);
        path = folder;
        path += L'\\';
        path += name;
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return FileHandle();
}

enum class FileOutcome { Written, NotCreated, NotCopied };

static FileOutcome ExtractFile(HANDLE payload, const wchar_t* folder, const PatchFileInfo& entry, uint32_t index,
                               Sha256Pipe* hash)
{
    std::wstring path = folder;
    path += L'\\';
    path += entry.fileName;
    // Refused before any byte is copied; the rename below refuses it again should the name
    // appear meanwhile.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_FILE_EXISTS);
        return FileOutcome::NotCreated;
    }

    std::wstring temporary;
    FileHandle target = CreateTemporaryFile(folder, index, temporary);
    if (!target)
        return FileOutcome::NotCreated;
    if (!CopyFileData(payload, target.get(), entry.fileSize, hash)) {
        MarkForDeletion(target.get());
        return FileOutcome::NotCopied;
    }
    if (!RenameThroughHandle(target.get(), path)) {
        MarkForDeletion(target.get());
        return FileOutcome::NotCreated;
    }
    return FileOutcome::Written;
}

int ExtractUpdates(const wchar_t* folder, UpdateTable* table, RunRecord& record, Sha256Pipe* hash)
{
    HANDLE payload = appState.payloadFile.get();
    LogMessage(L"Extracting update files.");

    uint32_t count = 0;
    if (!ReadExactly(payload, &count, sizeof count)) {
        record.LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read the update table.");
        return 1;
    }

    // A count larger than the rest of the file could hold would run out of entries anyway;
    // refusing it up front keeps a damaged count from growing the table without bound.
    int64_t left = BytesLeft(payload);
    if (left >= 0 && static_cast<uint64_t>(count) * payloadlayout::kRecordSize > static_cast<uint64_t>(left)) {
        record.LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read update table entry.");
        return 1;
    }

    UpdateTable entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        PatchFileInfo entry;
        if (!ReadExactly(payload, &entry, sizeof entry)) {
            record.LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to read update table entry.");
            return 1;
        }
        entries.push_back(entry);
    }
    for (const PatchFileInfo& entry : entries)
        record.RecordCarriedFile(entry.fileName, ARRAYSIZE(entry.fileName), entry.fileSize);

    if (!DirectoryExists(folder) && CreateDirectoryPath(folder) != 0) {
        record.LogFailure(RunStep::Extraction, GetLastError(), L"Output directory not accessible.");
        return 1;
    }

    for (uint32_t i = 0; i < count; ++i) {
        const PatchFileInfo& entry = entries[i];
        // The name is joined to the folder as it stands, so it must not lead anywhere else.
        if (!IsValidUpdateFileName(entry.fileName)) {
            record.LogFailure(RunStep::Extraction, ERROR_INVALID_NAME, L"Invalid update file name.");
            return 1;
        }
        // The files completed before a failure stay.
        switch (ExtractFile(payload, folder, entry, i, hash)) {
        case FileOutcome::NotCreated:
            record.LogFailure(RunStep::Extraction, GetLastError(), L"Failed to create update file.");
            return 1;
        case FileOutcome::NotCopied:
            record.LogFailure(RunStep::Extraction, ERROR_HANDLE_EOF, L"Failed to extract update.");
            return 1;
        case FileOutcome::Written:
            break;
        }
        uint8_t digest[32];
        if (hash != nullptr)
            hash->Finish(digest);
        record.RecordFileWritten(hash != nullptr ? &digest : nullptr);
    }

    if (table != nullptr)
        *table = std::move(entries);
    return 0;
}
