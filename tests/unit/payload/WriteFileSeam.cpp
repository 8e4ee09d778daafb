// The WriteFile stand-in: defining the import pointer here keeps the import library's member
// out of the test binary, so every WriteFile call in it, product code included, lands here.
#include "WriteFileSeam.h"

#include "AppState.h"
#include "ImportSeam.h"

namespace {

using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

WriteFault armedFault = WriteFault::None;
int writesToPass = 0;
std::wstring plantPath;
std::vector<unsigned char> plantContent;

WriteFileFunction RealWriteFile()
{
    static WriteFileFunction real = reinterpret_cast<WriteFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WriteFile")));
    return real;
}

void PlantFile()
{
    HANDLE planted =
        CreateFileW(plantPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    RealWriteFile()(planted, plantContent.data(), static_cast<DWORD>(plantContent.size()), &written, nullptr);
    CloseHandle(planted);
    plantPath.clear();
}

BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (!plantPath.empty() && file != appState.logFile.get())
        PlantFile();
    if (armedFault == WriteFault::None || file == appState.logFile.get())
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

static const bool seamInPlace = RequireSeam("kernel32.dll", "WriteFile");

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

void PlantBeforeNextWrite(const std::wstring& path, const std::vector<unsigned char>& content)
{
    plantPath = path;
    plantContent = content;
}
