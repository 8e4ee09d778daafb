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

constexpr uint32_t kResourceDirectoryFromCount = 4 + 8 * 2; // data directory 2
constexpr uint32_t kPe32DataDirectoryCountOffset = 92;
constexpr uint32_t kPe32PlusDataDirectoryCountOffset = 108;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoOffset = 40; // 6-byte header, 32-byte key, padding to 4
// Enough for every version resource a linker writes; a bound for hostile files.
constexpr uint32_t kMaxHeaders = 1u << 16;

struct Section {
    uint32_t virtualAddress, rawSize, rawPointer;
};

class Image {
public:
    Image(InputFile& input, const PeInfo& pe) : input_(input) {
        uint64_t optional = uint64_t(pe.ntOffset) + 24;
        uint8_t bytes[8];
        uint64_t countAt = optional + (pe.machine == PeMachine::X64 ? kPe32PlusDataDirectoryCountOffset
                                                                    : kPe32DataDirectoryCountOffset);
        if (!input.Read(countAt, bytes, 4) || GetU32(bytes) <= 2) return;
        if (!input.Read(countAt + kResourceDirectoryFromCount, bytes, 8)) return;
        resourceRva_ = GetU32(bytes);
        uint64_t table = optional + (pe.machine == PeMachine::X64 ? 240 : 224);
        for (uint32_t i = 0; i < pe.sectionCount; ++i) {
            uint8_t header[40];
            if (count_ == kSections || !input.Read(table + 40 * uint64_t(i), header, sizeof header)) return;
            sections_[count_++] = {GetU32(header + 12), GetU32(header + 16), GetU32(header + 20)};
        }
    }
    uint32_t resourceRva() const { return resourceRva_; }

    bool ReadRva(uint64_t rva, uint8_t* out, size_t size) {
        for (uint32_t i = 0; i < count_; ++i) {
            const Section& s = sections_[i];
            if (rva >= s.virtualAddress && rva + size <= uint64_t(s.virtualAddress) + s.rawSize)
                return input_.Read(uint64_t(s.rawPointer) + (rva - s.virtualAddress), out, size);
        }
        return false;
    }

private:
    static constexpr uint32_t kSections = 96;
    InputFile& input_;
    uint32_t resourceRva_ = 0;
    Section sections_[kSections] = {};
    uint32_t count_ = 0;
};

// The offset (from the resource directory's start) that the entry with `id` leads to, or,
// with `id` 0, the first entry's. Zero when there is none.
uint32_t FindEntry(Image& image, uint32_t directory, uint32_t id, bool& subdirectory) {
    uint8_t header[16];
    if (!image.ReadRva(uint64_t(image.resourceRva()) + directory, header, sizeof header)) return 0;
    uint32_t named = GetU16(header + 12), ids = GetU16(header + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
        uint8_t entry[8];
        if (!image.ReadRva(uint64_t(image.resourceRva()) + directory + 16 + 8 * i, entry, sizeof entry)) return 0;
        uint32_t name = GetU32(entry);
        if (id != 0 && (i < named || name != id)) continue;
        uint32_t target = GetU32(entry + 4);
        subdirectory = (target & kSubdirectory) != 0;
        return target & ~kSubdirectory;
    }
    return 0;
}

std::string Dotted(uint32_t high, uint32_t low) {
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
    return text;
}

}  // namespace

VersionResource ReadVersionResource(InputFile& input, const PeInfo& pe) {
    VersionResource result;
    Image image(input, pe);
    if (image.resourceRva() == 0) return result;
    // Type, name, language: the first of each below RT_VERSION.
    bool subdirectory = false;
    uint32_t at = FindEntry(image, 0, kRtVersion, subdirectory);
    if (at == 0 || !subdirectory) return result;
    at = FindEntry(image, at, 0, subdirectory);
    if (at == 0 || !subdirectory) return result;
    at = FindEntry(image, at, 0, subdirectory);
    if (at == 0 || subdirectory) return result;
    uint8_t dataEntry[8];
    if (!image.ReadRva(uint64_t(image.resourceRva()) + at, dataEntry, sizeof dataEntry)) return result;
    uint32_t dataRva = GetU32(dataEntry), dataSize = GetU32(dataEntry + 4);
    uint8_t fixed[kFixedInfoOffset + 24];
    if (dataSize < sizeof fixed || dataSize > kMaxHeaders || !image.ReadRva(dataRva, fixed, sizeof fixed))
        return result;
    const uint8_t* info = fixed + kFixedInfoOffset;
    if (GetU16(fixed + 2) < 52 || GetU32(info) != kFixedInfoSignature) return result;
    result.found = true;
    result.fileVersion = Dotted(GetU32(info + 8), GetU32(info + 12));
    result.productVersion = Dotted(GetU32(info + 16), GetU32(info + 20));
    return result;
}

}  // namespace pack
