// A stand-in for <strsafe.h> in the host build of the updater's payload reader: the one
// function payload/ calls. StringCchPrintfW (WideStrings.cpp) knows only the conversions that
// code uses, %u and %%, and stops the fuzzer on any other, so that a new format is noticed.
#pragma once

#include <windows.h>

#include <cstddef>

#define S_OK (static_cast<HRESULT>(0))
#define STRSAFE_E_INSUFFICIENT_BUFFER (static_cast<HRESULT>(0x8007007A))
#define STRSAFE_E_INVALID_PARAMETER (static_cast<HRESULT>(0x80070057))
#define SUCCEEDED(hr) ((hr) >= 0)
#define FAILED(hr) ((hr) < 0)

HRESULT StringCchPrintfW(wchar_t* destination, size_t capacity, const wchar_t* format, ...);
