// The WriteFile stand-in: defining the import pointer here keeps the import library's member
// out of the test binary, so every WriteFile call in it, product code included, lands here.
#include "WriteFileSeam.h"

#include "AppState.h"
#include "ImportSeam.h"

namespace {

using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

WriteFault armedFault = WriteFault::None;
int writesToPass = 0;

WriteFileFunction RealWriteFile()
{
    static WriteFileFunction real = reinterpret_cast<WriteFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WriteFile")));
    return real;
}

BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (armedFault == WriteFault::None || file == appState.logFile)
        return RealWriteFile()(file, buffer, size, written, overlapped);
    if (writesToPass > 0) {
        --writesToPass;
        return RealWriteFile()(file, buffer, size, written, overlapped);
    }
    if (armedFault == WriteFault::Short)
        return RealWriteFile()(file, buffer, size / 2, written, overlapped);
    if (written != nullptr)
        *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

}  // namespace

extern "C" WriteFileFunction seamWriteFile __asm__(TV_IMPORT_STDCALL(WriteFile, 20));
WriteFileFunction seamWriteFile = SeamWriteFile;

static const bool seamInPlace =
    RequireSeam("kernel32.dll", "WriteFile");

ArmedWriteFault::ArmedWriteFault(WriteFault fault, int passedWrites)
{
    armedFault = fault;
    writesToPass = passedWrites;
}

ArmedWriteFault::~ArmedWriteFault()
{
    armedFault = WriteFault::None;
    writesToPass = 0;
}
