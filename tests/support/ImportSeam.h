// Link-time replacement of functions that the Windows headers declare dllimport. Such a call
// goes through an import pointer; a test source that defines that pointer under its assembler
// name keeps the import library's member out of the binary, and the call lands in the fake.
// The names differ per target: 32-bit stdcall imports carry a leading underscore and the
// argument size (__imp__ExitWindowsEx@8), 64-bit ones neither (__imp_ExitWindowsEx). A pointer
// under the wrong name links cleanly and replaces nothing, so every seam file also calls
// RequireSeam, which stops the test binary before its first test when the real function is
// still imported.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#if defined(_WIN64)
#define TV_IMPORT_STDCALL(name, argumentBytes) "__imp_" #name
#define TV_IMPORT_CDECL(name) "__imp_" #name
#else
#define TV_IMPORT_STDCALL(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#define TV_IMPORT_CDECL(name) "__imp__" #name
#endif

// A replaced function leaves no entry in this binary's import table: its import library member
// (which would fill the pointer from the DLL) was never linked. Finding the function imported
// from `dll` means some call still reaches the real one. Prints the name and ends the process
// with exit code 70 before any test runs.
inline bool RequireSeam(const char* dll, const char* function)
{
    auto base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; directory.VirtualAddress != 0 && descriptor->Name != 0; ++descriptor) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0)
            continue;
        DWORD names = descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
        for (auto thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names); thunk->u1.AddressOfData != 0;
             ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal))
                continue;
            auto byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                std::fprintf(stderr, "link seam for %s is not in place: %s is imported from %s\n", function, function,
                             dll);
                std::fflush(stderr);
                std::_Exit(70);
            }
        }
    }
    return true;
}
