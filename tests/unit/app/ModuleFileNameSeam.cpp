// The GetModuleFileNameW stand-in: defining the import pointer here keeps the import
// library's member out of the test binary, so every call in it, product code included, lands
// here.
#include "ModuleFileNameSeam.h"

#include <windows.h>

#include "ImportSeam.h"

namespace {

using GetModuleFileNameFunction = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);

bool armed = false;
std::wstring fakePath;

GetModuleFileNameFunction RealGetModuleFileNameW()
{
    static GetModuleFileNameFunction real = reinterpret_cast<GetModuleFileNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetModuleFileNameW")));
    return real;
}

DWORD WINAPI SeamGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    if (!armed)
        return RealGetModuleFileNameW()(module, buffer, size);
    if (fakePath.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (size == 0)
        return 0;
    if (fakePath.size() < size) {
        fakePath.copy(buffer, fakePath.size());
        buffer[fakePath.size()] = L'\0';
        return static_cast<DWORD>(fakePath.size());
    }
    fakePath.copy(buffer, size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace

extern "C" GetModuleFileNameFunction seamGetModuleFileNameW __asm__(TV_IMPORT_STDCALL(GetModuleFileNameW, 12));
GetModuleFileNameFunction seamGetModuleFileNameW = SeamGetModuleFileNameW;

static const bool seamInPlace = RequireSeam("kernel32.dll", "GetModuleFileNameW");

FakeModulePath::FakeModulePath(const std::wstring& path)
{
    armed = true;
    fakePath = path;
}

FakeModulePath::~FakeModulePath()
{
    armed = false;
    fakePath.clear();
}
