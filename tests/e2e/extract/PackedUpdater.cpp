#include "PackedUpdater.h"

#include <algorithm>

#include "PayloadHeader.h"

std::wstring FixturePath(const std::wstring& name)
{
    std::wstring folder = testArguments.empty() ? std::wstring() : testArguments[0];
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder + L"\\" + name;
}

Bytes PayloadOf(const Bytes& updater)
{
    if (updater.size() < 0x400)
        return {};
    uint32_t begin = PayloadOffsetOfImage(updater.data());
    uint32_t end = CertificateTableOffsetOfImage(updater.data());
    if (end == 0 || end > updater.size())
        end = static_cast<uint32_t>(updater.size());
    // Padding that a signing tool puts before the table stays on the end; nothing reads it.
    if (begin >= end)
        return {};
    return Bytes(updater.begin() + begin, updater.begin() + end);
}

bool WriteBehindOwnImage(const std::wstring& path, const Bytes& payload)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    SetFilePointer(file, static_cast<LONG>(GetPayloadOffset()), nullptr, FILE_BEGIN);
    bool ok = SetEndOfFile(file) != FALSE;
    DWORD written = 0;
    if (ok && !payload.empty())
        ok = WriteFile(file, payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr) &&
             written == payload.size();
    CloseHandle(file);
    return ok;
}
