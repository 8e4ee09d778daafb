// Files in memory behind the kernel32 stand-ins (CreateFileW, ReadFile, WriteFile, the file
// pointer and size, GetFileAttributesW, SetFileInformationByHandle, CloseHandle, the last
// error) that the updater's payload reader and extraction call: one read-only payload file,
// and one output folder whose files are created, renamed and deleted as Windows would (see
// WindowsNames.h). A write that would land outside the folder, a write through the payload's
// handle, and a handle used after it was closed are findings. Also the module image that
// GetModuleHandleW(nullptr) gives. One thread; state lasts until the next reset.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct MemoryFile {
    std::wstring name;  // as created or last renamed
    std::vector<uint8_t> data;
};

// Starts over with no handle open, an empty output folder, and a payload file made of the
// image's bytes followed by the payload's.
void ResetMemoryFiles(const std::wstring& folder, const std::vector<uint8_t>& image, const uint8_t* payload,
                      size_t size);

// A handle to the payload file with read access only, at its start.
HANDLE OpenPayloadFile();

// The files now in the output folder, in the order they were created; valid until the next
// call that creates a file.
std::vector<const MemoryFile*> FolderFiles();

// Handles not closed yet, the payload file's included.
size_t OpenHandleCount();

void SetModuleImage(const uint8_t* image);
