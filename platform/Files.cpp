// Whole reads and writes, and deletion through a handle.
#include "Files.h"

bool ReadExactly(HANDLE file, void* buffer, DWORD size)
{
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

bool WriteExactly(HANDLE file, const void* buffer, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, buffer, size, &written, nullptr) && written == size;
}

bool MarkForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}
