// Carried file names, checked against what Windows accepts as a file name in a folder.
#include "UpdateFileName.h"

#include <cwchar>

static bool IsForbiddenUnit(wchar_t c)
{
    return c < 0x20 || wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

static wchar_t UpperAscii(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 0x20) : c;
}

// Windows maps these names to devices whatever extension follows them.
static bool IsDeviceName(const wchar_t* name, size_t length)
{
    size_t base = 0;
    while (base < length && name[base] != L'.')
        ++base;
    while (base > 0 && name[base - 1] == L' ')
        --base;
    wchar_t upper[5] = {};
    if (base < 3 || base > 4)
        return false;
    for (size_t i = 0; i < base; ++i)
        upper[i] = UpperAscii(name[i]);
    if (base == 3)
        return !wcscmp(upper, L"CON") || !wcscmp(upper, L"PRN") || !wcscmp(upper, L"AUX") || !wcscmp(upper, L"NUL");
    if (wcsncmp(upper, L"COM", 3) != 0 && wcsncmp(upper, L"LPT", 3) != 0)
        return false;
    wchar_t digit = upper[3];
    return (digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsValidUpdateFileName(const wchar_t (&fileName)[payloadlayout::kFileNameUnits])
{
    size_t length = 0;
    while (length < payloadlayout::kFileNameUnits && fileName[length] != L'\0')
        ++length;
    if (length == 0 || length == payloadlayout::kFileNameUnits)
        return false;
    if (!wcscmp(fileName, L".") || !wcscmp(fileName, L".."))
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (IsForbiddenUnit(fileName[i]))
            return false;
    }
    if (fileName[length - 1] == L'.' || fileName[length - 1] == L' ')
        return false;
    return !IsDeviceName(fileName, length);
}
