// The payload header: N1, the product name (UTF-16LE), N2, the version. Nothing in the
// payload holds an offset; the file position is the read cursor that extraction continues.
#include "PayloadHeader.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "AppState.h"
#include "Log.h"
#include "PayloadLayout.h"

static uint32_t ReadU32(const uint8_t* at)
{
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

static uint16_t ReadU16(const uint8_t* at)
{
    uint16_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

// Offsets into the headers of an image of this program's own kind: PE32 for the x86 updater,
// PE32+ for the x64 one. The section table is taken at the fixed distance of the flavour's NT
// headers (248 or 264 bytes), whatever the file header's optional-header size says; the
// packer checks that the two agree before it appends a payload.
#ifdef _WIN64
constexpr payloadlayout::ImageFlavour OwnFlavour = payloadlayout::kPe32Plus;
#else
constexpr payloadlayout::ImageFlavour OwnFlavour = payloadlayout::kPe32;
#endif
static_assert(sizeof(IMAGE_NT_HEADERS) == OwnFlavour.ntHeadersSize &&
                  offsetof(IMAGE_NT_HEADERS, OptionalHeader.NumberOfRvaAndSizes) == OwnFlavour.directoryCountOffset &&
                  offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory) +
                          payloadlayout::kDataDirectorySize * IMAGE_DIRECTORY_ENTRY_SECURITY ==
                      OwnFlavour.securityDirectoryOffset,
              "the platform's NT headers as PayloadLayout.h lays them out");

// The layout's offsets under the names the SDK gives their fields.
enum : uint32_t {
    DosNewHeaderOffset = payloadlayout::kNtHeadersPointerOffset,
    NumberOfSectionsOffset = payloadlayout::kSectionCountOffset,
    NtHeadersSize = OwnFlavour.ntHeadersSize,
    SectionHeaderSize = payloadlayout::kSectionHeaderSize,
    SizeOfRawDataOffset = payloadlayout::kSectionRawSizeOffset,
    PointerToRawDataOffset = payloadlayout::kSectionRawPointerOffset,
    NumberOfRvaAndSizesOffset = OwnFlavour.directoryCountOffset,
    SecurityDirectoryOffset = OwnFlavour.securityDirectoryOffset,
};

uint32_t PayloadOffsetOfImage(const uint8_t* image)
{
    const uint8_t* nt = image + ReadU32(image + DosNewHeaderOffset);
    uint16_t sectionCount = ReadU16(nt + NumberOfSectionsOffset);
    const uint8_t* sections = nt + NtHeadersSize;

    uint32_t bestIndex = 0;
    uint32_t bestPointer = 0;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t pointer = ReadU32(sections + i * SectionHeaderSize + PointerToRawDataOffset);
        if (pointer > bestPointer) {
            bestPointer = pointer;
            bestIndex = i;
        }
    }
    const uint8_t* best = sections + bestIndex * SectionHeaderSize;
    return ReadU32(best + PointerToRawDataOffset) + ReadU32(best + SizeOfRawDataOffset);
}

uint32_t CertificateTableOffsetOfImage(const uint8_t* image)
{
    const uint8_t* nt = image + ReadU32(image + DosNewHeaderOffset);
    if (ReadU32(nt + NumberOfRvaAndSizesOffset) <= payloadlayout::kSecurityDirectoryIndex)
        return 0;
    uint32_t offset = ReadU32(nt + SecurityDirectoryOffset);
    uint32_t size = ReadU32(nt + SecurityDirectoryOffset + 4);
    return size == 0 ? 0 : offset;
}

static uint32_t payloadOffset = 0;

uint32_t GetPayloadOffset()
{
    if (payloadOffset != 0)
        return payloadOffset;
    payloadOffset = PayloadOffsetOfImage(reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr)));
    return payloadOffset;
}

// Reads one length byte and that many bytes of UTF-16LE text. An odd count reads the last
// byte too, but it belongs to no character.
static bool ReadCountedText(HANDLE file, std::wstring& text)
{
    uint8_t buffer[payloadlayout::kMaxTextBytes];
    DWORD read = 0;
    if (!ReadFile(file, buffer, 1, &read, nullptr) || read != 1)
        return false;
    DWORD count = buffer[0];
    read = 0;
    if (count > 0 && (!ReadFile(file, buffer, count, &read, nullptr) || read != count))
        return false;
    text.resize(count / 2);
    if (count >= 2)
        memcpy(&text[0], buffer, (count / 2) * sizeof(wchar_t));
    return true;
}

int ReadPayloadHeader(RunRecord& record)
{
    HANDLE file = appState.payloadFile.get();
    if (file == INVALID_HANDLE_VALUE)
        return PayloadMissing;

    uint32_t offset = GetPayloadOffset();
    if (GetFileSize(file, nullptr) == offset)
        return PayloadMissing;
    // A signed updater without payload has its certificate table right at P: nothing carried.
    const uint8_t* image = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    if (CertificateTableOffsetOfImage(image) == offset)
        return PayloadMissing;

    SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
    if (!ReadCountedText(file, appState.productName)) {
        record.LogFailure(RunStep::Payload, ERROR_HANDLE_EOF, L"Failed to read product name.");
        return PayloadHeaderUnreadable;
    }
    if (!ReadCountedText(file, appState.productVersion)) {
        record.LogFailure(RunStep::Payload, ERROR_HANDLE_EOF, L"Failed to read product version.");
        return PayloadHeaderUnreadable;
    }
    return PayloadHeaderRead;
}
