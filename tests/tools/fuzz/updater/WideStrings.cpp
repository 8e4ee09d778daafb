// The C library's wide-string functions for 2-byte wchar_t. The fuzzer is built with
// -fshort-wchar so that the updater's UTF-16 and its 528-byte table entries are what they are
// on Windows, but glibc's wcslen, wmemcpy... count 4-byte units. These definitions in the
// executable take their place for the updater's sources and for std::wstring, whose members
// the build instantiates here (_GLIBCXX_ASSERTIONS turns off libstdc++'s prebuilt 4-byte
// copy); a check after linking proves that nothing still calls glibc's. Also the one strsafe
// function payload/ needs. This file includes no header that declares these functions: glibc
// gives some of them C++ overloads that these plain definitions would clash with. Built with
// -fno-builtin, so that no loop here is turned back into a call to itself.
#include <strsafe.h>

#include <cstdarg>

#include "Fault.h"

extern "C" {

size_t wcslen(const wchar_t* text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

int wcscmp(const wchar_t* left, const wchar_t* right)
{
    while (*left != 0 && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right ? 0 : (*left < *right ? -1 : 1);
}

int wcsncmp(const wchar_t* left, const wchar_t* right, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
        if (left[i] == 0)
            return 0;
    }
    return 0;
}

// The terminating NUL counts as part of the string, as in the C library.
wchar_t* wcschr(const wchar_t* text, wchar_t unit)
{
    for (;; ++text) {
        if (*text == unit)
            return const_cast<wchar_t*>(text);
        if (*text == 0)
            return nullptr;
    }
}

int wmemcmp(const wchar_t* left, const wchar_t* right, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

wchar_t* wmemchr(const wchar_t* text, wchar_t unit, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == unit)
            return const_cast<wchar_t*>(text + i);
    }
    return nullptr;
}

wchar_t* wmemcpy(wchar_t* destination, const wchar_t* source, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        destination[i] = source[i];
    return destination;
}

wchar_t* wmemmove(wchar_t* destination, const wchar_t* source, size_t count)
{
    if (destination < source) {
        for (size_t i = 0; i < count; ++i)
            destination[i] = source[i];
    } else {
        for (size_t i = count; i > 0; --i)
            destination[i - 1] = source[i - 1];
    }
    return destination;
}

wchar_t* wmemset(wchar_t* destination, wchar_t unit, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        destination[i] = unit;
    return destination;
}

}  // extern "C"

static bool AppendUnit(wchar_t* destination, size_t capacity, size_t& length, wchar_t unit)
{
    if (length + 1 >= capacity)
        return false;
    destination[length++] = unit;
    return true;
}

HRESULT StringCchPrintfW(wchar_t* destination, size_t capacity, const wchar_t* format, ...)
{
    if (capacity == 0)
        return STRSAFE_E_INVALID_PARAMETER;
    va_list values;
    va_start(values, format);
    size_t length = 0;
    bool fits = true;
    for (const wchar_t* at = format; *at != 0 && fits; ++at) {
        if (*at != L'%') {
            fits = AppendUnit(destination, capacity, length, *at);
            continue;
        }
        ++at;
        if (*at == L'%') {
            fits = AppendUnit(destination, capacity, length, L'%');
        } else if (*at == L'u') {
            wchar_t digits[10];
            size_t count = 0;
            unsigned value = va_arg(values, unsigned);
            do {
                digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
                value /= 10;
            } while (value != 0);
            while (count > 0 && fits)
                fits = AppendUnit(destination, capacity, length, digits[--count]);
        } else {
            StopOnFault("StringCchPrintfW: the stand-in knows only %u and %%");
        }
    }
    va_end(values);
    destination[length] = 0;
    return fits ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}
