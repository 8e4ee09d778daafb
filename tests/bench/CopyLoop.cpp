// Benchmark reference, not part of the updater: copies a run of files out of one source file
// into a folder through a single 32 KiB stack buffer, reading strictly in sequence, as the
// extraction does, but with no table, no names and no checks beyond the calls themselves.
// Usage: tv-copyloop SOURCE OFFSET OUTDIR SIZE...   (writes OUTDIR\part1.bin, part2.bin, ...)
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5)
        return 2;
    HANDLE source =
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(wcstoull(argv[2], nullptr, 0));
    SetFilePointerEx(source, offset, nullptr, FILE_BEGIN);
    CreateDirectoryW(argv[3], nullptr);

    uint8_t buffer[0x8000];
    int result = 0;
    for (int i = 4; i < argc && result == 0; ++i) {
        std::wstring path = std::wstring(argv[3]) + L"\\part" + std::to_wstring(i - 3) + L".bin";
        HANDLE target = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (target == INVALID_HANDLE_VALUE)
            return 1;
        uint32_t remaining = static_cast<uint32_t>(wcstoul(argv[i], nullptr, 0));
        while (remaining > 0) {
            DWORD chunk = remaining > sizeof buffer ? static_cast<DWORD>(sizeof buffer) : remaining;
            DWORD read = 0;
            DWORD written = 0;
            if (!ReadFile(source, buffer, chunk, &read, nullptr) || read != chunk ||
                !WriteFile(target, buffer, chunk, &written, nullptr) || written != chunk) {
                result = 1;
                break;
            }
            remaining -= chunk;
        }
        CloseHandle(target);
    }
    CloseHandle(source);
    return result;
}
