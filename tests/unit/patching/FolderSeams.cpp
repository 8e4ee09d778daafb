// The CreateDirectoryW, GetSystemWindowsDirectoryW and GetWindowsDirectoryW stand-ins; see
// FolderSeams.h.
#include "FolderSeams.h"

#include "ImportSeam.h"

FolderSeams folderSeams;

void ResetFolderSeams()
{
    folderSeams = FolderSeams();
}

namespace {

using CreateDirectoryFunction = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using GetWindowsDirectoryFunction = UINT(WINAPI*)(LPWSTR, UINT);

FARPROC RealKernelFunction(const char* name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

BOOL WINAPI SeamCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    ++folderSeams.createCalls;
    folderSeams.createdPath = path != nullptr ? path : L"";
    folderSeams.hadAttributes = attributes != nullptr;
    folderSeams.inheritHandle = attributes != nullptr ? attributes->bInheritHandle : FALSE;
    folderSeams.descriptor.clear();
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        // Copied in self-relative form, so the test reads it after the caller has freed its own.
        DWORD size = 0;
        MakeSelfRelativeSD(attributes->lpSecurityDescriptor, nullptr, &size);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision);
        if (control & SE_SELF_RELATIVE) {
            size = GetSecurityDescriptorLength(attributes->lpSecurityDescriptor);
            const uint8_t* bytes = static_cast<const uint8_t*>(attributes->lpSecurityDescriptor);
            folderSeams.descriptor.assign(bytes, bytes + size);
        } else if (size > 0) {
            folderSeams.descriptor.resize(size);
            MakeSelfRelativeSD(attributes->lpSecurityDescriptor, folderSeams.descriptor.data(), &size);
        }
    }
    static auto real =
        reinterpret_cast<CreateDirectoryFunction>(reinterpret_cast<void*>(RealKernelFunction("CreateDirectoryW")));
    return real(path, attributes);
}

UINT CopyFolderAnswer(const std::wstring& folder, LPWSTR buffer, UINT size)
{
    if (folder.size() >= size)
        return static_cast<UINT>(folder.size() + 1);
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = L'\0';
    return static_cast<UINT>(folder.size());
}

UINT WINAPI SeamGetSystemWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    if (folderSeams.failWindowsFolder) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    }
    if (folderSeams.replaceWindowsFolder)
        return CopyFolderAnswer(folderSeams.windowsFolder, buffer, size);
    static auto real = reinterpret_cast<GetWindowsDirectoryFunction>(
        reinterpret_cast<void*>(RealKernelFunction("GetSystemWindowsDirectoryW")));
    return real(buffer, size);
}

UINT WINAPI SeamGetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    if (!folderSeams.userWindowsFolder.empty())
        return CopyFolderAnswer(folderSeams.userWindowsFolder, buffer, size);
    static auto real = reinterpret_cast<GetWindowsDirectoryFunction>(
        reinterpret_cast<void*>(RealKernelFunction("GetWindowsDirectoryW")));
    return real(buffer, size);
}

}  // namespace

extern "C" {
extern CreateDirectoryFunction seamCreateDirectoryPointer __asm__(TV_IMPORT_STDCALL(CreateDirectoryW, 8));
CreateDirectoryFunction seamCreateDirectoryPointer = SeamCreateDirectoryW;
extern GetWindowsDirectoryFunction seamGetSystemWindowsDirectoryPointer __asm__(
    TV_IMPORT_STDCALL(GetSystemWindowsDirectoryW, 8));
GetWindowsDirectoryFunction seamGetSystemWindowsDirectoryPointer = SeamGetSystemWindowsDirectoryW;
extern GetWindowsDirectoryFunction seamGetWindowsDirectoryPointer __asm__(TV_IMPORT_STDCALL(GetWindowsDirectoryW, 8));
GetWindowsDirectoryFunction seamGetWindowsDirectoryPointer = SeamGetWindowsDirectoryW;
}

static const bool seamsInPlace = RequireSeam("kernel32.dll", "CreateDirectoryW") &&
                                 RequireSeam("kernel32.dll", "GetSystemWindowsDirectoryW") &&
                                 RequireSeam("kernel32.dll", "GetWindowsDirectoryW");
