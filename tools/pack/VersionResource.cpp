// The resource directory (data directory 2) is a tree of IMAGE_RESOURCE_DIRECTORY tables:
// type, then name, then language; each 8-byte entry holds an id and an offset from the
// directory's start, with the high bit set where it leads to a further table. The leaf is an
// IMAGE_RESOURCE_DATA_ENTRY holding the data's RVA and size. A version resource starts with
// VS_VERSIONINFO's header (length, value length, type, the key "VS_VERSION_INFO" padded to
// 4 bytes) followed by VS_FIXEDFILEINFO, which begins with the signature 0xFEEF04BD.
#include "VersionResource.h"

#include "ByteOrder.h"

#include <cstdio>

namespace pack {

namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoOffset = 40;  // 6-byte header, 32-byte key, padding to 4
// Enough for every version resource a linker writes; a bound for hostile files.
constexpr uint32_t kMaxHeaders = 1u << 16;

class Image {
public:
    Image(InputFile& input, const PeInfo& pe) : input_(input), pe_(pe) {}
    uint32_t resourceRva() const { return pe_.resourceRva; }

    bool ReadRva(uint64_t rva, uint8_t* out, size_t size)
    {
        uint64_t offset = 0;
        return RvaToFileOffset(pe_, rva, size, offset) && input_.Read(offset, out, size);
    }

private:
    InputFile& input_;
    const PeInfo& pe_;
};

// The offset (from the resource directory's start) that the entry with `id` leads to, or,
// with `id` 0, the first entry's. Zero when there is none.
uint32_t FindEntry(Image& image, uint32_t directory, uint32_t id, bool& subdirectory)
{
    uint8_t header[16];
    if (!image.ReadRva(uint64_t(image.resourceRva()) + directory, header, sizeof header))
        return 0;
    uint32_t named = GetU16(header + 12), ids = GetU16(header + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
        uint8_t entry[8];
        if (!image.ReadRva(uint64_t(image.resourceRva()) + directory + 16 + 8 * i, entry, sizeof entry))
            return 0;
        uint32_t name = GetU32(entry);
        if (id != 0 && (i < named || name != id))
            continue;
        uint32_t target = GetU32(entry + 4);
        subdirectory = (target & kSubdirectory) != 0;
        return target & ~kSubdirectory;
    }
    return 0;
}

std::string Dotted(uint32_t high, uint32_t low)
{
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
    return text;
}

}  // namespace

VersionResource ReadVersionResource(InputFile& input, const PeInfo& pe)
{
    VersionResource result;
    Image image(input, pe);
    if (image.resourceRva() == 0)
        return result;
    // Type, name, language: the first of each below RT_VERSION.
    bool subdirectory = false;
    uint32_t at = FindEntry(image, 0, kRtVersion, subdirectory);
    if (at == 0 || !subdirectory)
        return result;
    at = FindEntry(image, at, 0, subdirectory);
    if (at == 0 || !subdirectory)
        return result;
    at = FindEntry(image, at, 0, subdirectory);
    if (at == 0 || subdirectory)
        return result;
    uint8_t dataEntry[8];
    if (!image.ReadRva(uint64_t(image.resourceRva()) + at, dataEntry, sizeof dataEntry))
        return result;
    uint32_t dataRva = GetU32(dataEntry), dataSize = GetU32(dataEntry + 4);
    uint8_t fixed[kFixedInfoOffset + 24];
    if (dataSize < sizeof fixed || dataSize > kMaxHeaders || !image.ReadRva(dataRva, fixed, sizeof fixed))
        return result;
    const uint8_t* info = fixed + kFixedInfoOffset;
    if (GetU16(fixed + 2) < 52 || GetU32(info) != kFixedInfoSignature)
        return result;
    result.found = true;
    result.fileVersion = Dotted(GetU32(info + 8), GetU32(info + 12));
    result.productVersion = Dotted(GetU32(info + 16), GetU32(info + 20));
    return result;
}

}  // namespace pack
