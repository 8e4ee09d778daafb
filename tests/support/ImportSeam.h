// Link-time replacement of functions that the Windows headers declare dllimport. Such a call
// goes through an import pointer; a test source that defines that pointer under its assembler
// name keeps the import library's member out of the binary, and the call lands in the fake.
// The names differ per target: 32-bit stdcall imports carry a leading underscore and the
// argument size (__imp__ExitWindowsEx@8), 64-bit ones neither (__imp_ExitWindowsEx). A pointer
// under the wrong name links cleanly and replaces nothing, so every seam file also calls
// RequireSeam, which stops the test binary before its first test when a call would still
// reach the real function.
#pragma once

#include <cstdio>
#include <cstdlib>

#if defined(_WIN64)
#define TV_IMPORT_STDCALL(name, argumentBytes) "__imp_" #name
#define TV_IMPORT_CDECL(name) "__imp_" #name
#else
#define TV_IMPORT_STDCALL(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#define TV_IMPORT_CDECL(name) "__imp__" #name
#endif

// `called` is the function as the code under test calls it (for a dllimport declaration this
// reads the import pointer), `fake` the replacement. Prints the name and ends the process with
// exit code 70 when they differ.
inline bool RequireSeam(const void* called, const void* fake, const char* name)
{
    const void* volatile seen = called;  // LOCAL-ONLY: keep GCC from folding the comparison
    if (seen == fake)
        return true;
    std::fprintf(stderr, "link seam for %s is not in place: the test would call the real function\n", name);
    std::fflush(stderr);
    std::_Exit(70);
}
