// The in-memory files and the kernel32 functions over them. Only what the updater's payload
// code does is supported (files created with CREATE_NEW, renames without replacing, deletion
// through the handle); anything else stops the fuzzer with a note, so that a change of the
// product's calls is not silently mis-simulated.
#include "MemoryFiles.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Fault.h"
#include "WindowsNames.h"

void StopOnFault(const char* what)
{
    std::fprintf(stderr, "updater payload fuzzer: %s\n", what);
    std::abort();
}

namespace {

const int payloadFileIndex = -1;

struct StoredFile {
    MemoryFile file;
    bool present = true;
    bool deleteOnClose = false;
};

struct OpenFile {
    bool open = true;
    int file;  // into State::files, or payloadFileIndex
    DWORD access;
    uint64_t position = 0;
};

struct State {
    std::wstring folder;
    std::vector<uint8_t> payload;
    std::vector<StoredFile> files;
    std::vector<OpenFile> handles;
    const uint8_t* image = nullptr;
};

// Never destroyed: the updater's AppState may close a handle while the process exits.
State& state = *new State;
thread_local DWORD lastError = ERROR_SUCCESS;

// Handles are small multiples of four, as kernel handles are; never null or -1.
HANDLE MakeHandle(size_t index)
{
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100 + 4 * index));
}

OpenFile& Handle(HANDLE handle)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    size_t index = (value - 0x100) / 4;
    if (value < 0x100 || value % 4 != 0 || index >= state.handles.size() || !state.handles[index].open)
        StopOnFault("a handle that is not open was used");
    return state.handles[index];
}

std::vector<uint8_t>& Data(const OpenFile& open)
{
    return open.file == payloadFileIndex ? state.payload : state.files[open.file].file.data;
}

int FindFile(const std::wstring& name)
{
    for (size_t i = 0; i < state.files.size(); ++i) {
        if (state.files[i].present && SameFileName(state.files[i].file.name, name))
            return static_cast<int>(i);
    }
    return -1;
}

// The caller's buffer must hold all size bytes, even when fewer are transferred.
void CheckBuffer(const void* buffer, size_t size, const char* what)
{
    if (size != 0 && __asan_region_is_poisoned(const_cast<void*>(buffer), size) != nullptr)
        StopOnFault(what);
}

BOOL Fail(DWORD error)
{
    lastError = error;
    return FALSE;
}

BOOL Seek(OpenFile& open, int64_t distance, DWORD method, uint64_t& position)
{
    int64_t base = 0;
    if (method == FILE_CURRENT)
        base = static_cast<int64_t>(open.position);
    else if (method == FILE_END)
        base = static_cast<int64_t>(Data(open).size());
    else if (method != FILE_BEGIN)
        return Fail(ERROR_INVALID_PARAMETER);
    if (base + distance < 0)
        return Fail(ERROR_NEGATIVE_SEEK);
    open.position = static_cast<uint64_t>(base + distance);
    position = open.position;
    return TRUE;
}

BOOL Rename(OpenFile& open, const FILE_RENAME_INFO& info, DWORD size)
{
    if (size < offsetof(FILE_RENAME_INFO, FileName) || info.FileNameLength % 2 != 0 ||
        info.FileNameLength > size - offsetof(FILE_RENAME_INFO, FileName))
        StopOnFault("a rename whose name does not lie within the buffer given");
    if (info.RootDirectory != nullptr || info.ReplaceIfExists)
        StopOnFault("a rename the stand-in does not support (relative, or replacing)");
    if (open.file == payloadFileIndex)
        StopOnFault("the payload file was renamed");
    if ((open.access & DELETE) == 0)
        return Fail(ERROR_ACCESS_DENIED);
    std::wstring path(info.FileName, info.FileNameLength / 2);
    std::wstring name;
    const char* why;
    switch (ResolveInFolder(state.folder, path, name, why)) {
    case NameInFolder::Elsewhere:
        StopOnFault((std::string("a file was renamed to a path outside the output folder: ") + why).c_str());
    case NameInFolder::Refused:
        return Fail(ERROR_INVALID_NAME);
    case NameInFolder::File:
        break;
    }
    int existing = FindFile(name);
    if (existing >= 0 && existing != open.file)
        return Fail(ERROR_ALREADY_EXISTS);
    state.files[open.file].file.name = name;
    return TRUE;
}

}  // namespace

void ResetMemoryFiles(const std::wstring& folder, const std::vector<uint8_t>& image, const uint8_t* payload,
                      size_t size)
{
    // The buffers are kept from one input to the next: fewer allocations run faster under
    // AddressSanitizer.
    state.folder = folder;
    state.payload.assign(image.begin(), image.end());
    state.payload.insert(state.payload.end(), payload, payload + size);
    state.files.clear();
    state.handles.clear();
    lastError = ERROR_SUCCESS;
}

HANDLE OpenPayloadFile()
{
    state.handles.push_back(OpenFile{true, payloadFileIndex, GENERIC_READ});
    return MakeHandle(state.handles.size() - 1);
}

std::vector<const MemoryFile*> FolderFiles()
{
    std::vector<const MemoryFile*> files;
    for (const StoredFile& stored : state.files) {
        if (stored.present)
            files.push_back(&stored.file);
    }
    return files;
}

size_t OpenHandleCount()
{
    size_t count = 0;
    for (const OpenFile& open : state.handles)
        count += open.open ? 1 : 0;
    return count;
}

void SetModuleImage(const uint8_t* image)
{
    state.image = image;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE)
{
    if (disposition != CREATE_NEW)
        StopOnFault("CreateFileW: the stand-in creates new files only");
    std::wstring name;
    const char* why;
    switch (ResolveInFolder(state.folder, path, name, why)) {
    case NameInFolder::Elsewhere:
        StopOnFault((std::string("a file was created outside the output folder: ") + why).c_str());
    case NameInFolder::Refused:
        Fail(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    case NameInFolder::File:
        break;
    }
    if (FindFile(name) >= 0) {
        Fail(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    state.files.push_back(StoredFile{MemoryFile{name, {}}});
    state.handles.push_back(OpenFile{true, static_cast<int>(state.files.size() - 1), access});
    lastError = ERROR_SUCCESS;
    return MakeHandle(state.handles.size() - 1);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    OpenFile& open = Handle(file);
    if (read == nullptr || overlapped != nullptr)
        StopOnFault("ReadFile: the stand-in reads synchronously into a count");
    CheckBuffer(buffer, size, "ReadFile was given a buffer smaller than the bytes asked for");
    *read = 0;
    if ((open.access & GENERIC_READ) == 0)
        return Fail(ERROR_ACCESS_DENIED);
    const std::vector<uint8_t>& data = Data(open);
    if (open.position >= data.size())
        return TRUE;
    size_t count = static_cast<size_t>(std::min<uint64_t>(size, data.size() - open.position));
    memcpy(buffer, data.data() + open.position, count);
    open.position += count;
    *read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    OpenFile& open = Handle(file);
    if (written == nullptr || overlapped != nullptr)
        StopOnFault("WriteFile: the stand-in writes synchronously into a count");
    if (open.file == payloadFileIndex)
        StopOnFault("a write through the payload file's handle");
    CheckBuffer(buffer, size, "WriteFile was given a buffer smaller than the bytes to write");
    *written = 0;
    if ((open.access & GENERIC_WRITE) == 0)
        return Fail(ERROR_ACCESS_DENIED);
    std::vector<uint8_t>& data = Data(open);
    if (data.size() < open.position + size)
        data.resize(open.position + size);
    memcpy(data.data() + open.position, buffer, size);
    open.position += size;
    *written = size;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    OpenFile& open = Handle(file);
    int64_t move = distance;
    if (distanceHigh != nullptr)
        move = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                    static_cast<uint32_t>(distance));
    uint64_t position = 0;
    if (!Seek(open, move, method, position))
        return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(position >> 32);
    lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(position);
}

BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method)
{
    OpenFile& open = Handle(file);
    uint64_t moved = 0;
    if (!Seek(open, distance.QuadPart, method, moved))
        return FALSE;
    if (position != nullptr)
        position->QuadPart = static_cast<LONGLONG>(moved);
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    uint64_t size = Data(Handle(file)).size();
    if (sizeHigh != nullptr)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size)
{
    size->QuadPart = static_cast<LONGLONG>(Data(Handle(file)).size());
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path)
{
    if (SameFileName(path, state.folder))
        return FILE_ATTRIBUTE_DIRECTORY;
    std::wstring name;
    const char* why;
    switch (ResolveInFolder(state.folder, path, name, why)) {
    case NameInFolder::Elsewhere:
        lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    case NameInFolder::Refused:
        lastError = ERROR_INVALID_NAME;
        return INVALID_FILE_ATTRIBUTES;
    case NameInFolder::File:
        break;
    }
    if (FindFile(name) < 0) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info, DWORD size)
{
    OpenFile& open = Handle(file);
    CheckBuffer(info, size, "SetFileInformationByHandle was given a buffer smaller than its size");
    if (infoClass == FileRenameInfo)
        return Rename(open, *static_cast<const FILE_RENAME_INFO*>(info), size);
    if (infoClass != FileDispositionInfo)
        StopOnFault("SetFileInformationByHandle: the stand-in renames and deletes only");
    if (size < sizeof(FILE_DISPOSITION_INFO))
        return Fail(ERROR_INVALID_PARAMETER);
    if (open.file == payloadFileIndex)
        StopOnFault("the payload file was marked for deletion");
    if ((open.access & DELETE) == 0)
        return Fail(ERROR_ACCESS_DENIED);
    state.files[open.file].deleteOnClose = static_cast<const FILE_DISPOSITION_INFO*>(info)->DeleteFile != FALSE;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    OpenFile& open = Handle(handle);
    open.open = false;
    if (open.file == payloadFileIndex)
        return TRUE;
    StoredFile& stored = state.files[open.file];
    if (!stored.deleteOnClose)
        return TRUE;
    for (const OpenFile& other : state.handles) {
        if (other.open && other.file == open.file)
            return TRUE;
    }
    stored.present = false;
    return TRUE;
}

DWORD WINAPI GetLastError()
{
    return lastError;
}

void WINAPI SetLastError(DWORD error)
{
    lastError = error;
}

DWORD WINAPI GetCurrentProcessId()
{
    return 4242;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    if (name != nullptr)
        StopOnFault("GetModuleHandleW: the stand-in knows the program's own module only");
    return const_cast<uint8_t*>(state.image);
}
