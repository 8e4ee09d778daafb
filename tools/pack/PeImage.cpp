// PE32 header parsing for the packer. Every read is checked against the bytes given, since
// inspect runs this on arbitrary files.
#include "PeImage.h"

#include "ByteOrder.h"
#include "HexText.h"
#include "InputFile.h"
#include "PayloadLayout.h"

#include <algorithm>
#include <cstdio>

namespace pack {

namespace {

// What signing and inspect read besides the facts that place the payload (PayloadLayout.h).
constexpr uint32_t kChecksumInOptionalHeader = 64;  // the same in both flavours
constexpr uint32_t kResourceDirectoryIndex = 2;
// Real images keep their headers in the first few kilobytes; the bound keeps a hostile
// e_lfanew from making the reader allocate gigabytes.
constexpr uint64_t kMaxHeaderSpan = 16u << 20;

}  // namespace

uint64_t PeHeaderSpan(const uint8_t* data, size_t size)
{
    if (size < 0x40)
        return 0x40;
    if (data[0] != 'M' || data[1] != 'Z')
        return size;  // nothing more to read: not an image
    uint64_t ntOffset = GetU32(data + payloadlayout::kNtHeadersPointerOffset);
    // Enough for either flavour; the parser decides which one the image is.
    uint64_t fixedEnd = ntOffset + payloadlayout::kPe32Plus.ntHeadersSize;
    if (size < ntOffset + payloadlayout::kSectionCountOffset + 2)
        return fixedEnd;
    uint16_t sections = GetU16(data + ntOffset + payloadlayout::kSectionCountOffset);
    return fixedEnd + uint64_t(sections) * payloadlayout::kSectionHeaderSize;
}

bool ParsePeHeaders(const uint8_t* data, size_t size, PeInfo& info, std::string& error)
{
    info = PeInfo{};
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') {
        error = "is not a PE image (no MZ header)";
        return false;
    }
    uint64_t nt = GetU32(data + payloadlayout::kNtHeadersPointerOffset);
    if (nt + payloadlayout::kOptionalHeaderOffset + 2 > size || data[nt] != 'P' || data[nt + 1] != 'E' ||
        data[nt + 2] != 0 || data[nt + 3] != 0) {
        error = "is not a PE image (no PE signature where the MZ header points)";
        return false;
    }
    const uint8_t* headers = data + nt;
    uint16_t magic = GetU16(headers + payloadlayout::kOptionalHeaderOffset);
    if (magic != payloadlayout::kPe32.magic && magic != payloadlayout::kPe32Plus.magic) {
        error = "is not a PE32 or PE32+ image (optional header magic " + Hex(magic) + ")";
        return false;
    }
    bool plus = magic == payloadlayout::kPe32Plus.magic;
    const payloadlayout::ImageFlavour& flavour = plus ? payloadlayout::kPe32Plus : payloadlayout::kPe32;
    uint16_t optionalSize = GetU16(headers + payloadlayout::kOptionalHeaderSizeOffset);
    if (optionalSize != flavour.optionalHeaderSize) {
        // The updater reads the section table at a fixed distance, so any other size would
        // make it compute a different payload offset than the one written here.
        error = "has a " + std::to_string(optionalSize) + "-byte optional header instead of " +
                std::to_string(flavour.optionalHeaderSize) + "; the updater would misread its section table";
        return false;
    }
    uint16_t sections = GetU16(headers + payloadlayout::kSectionCountOffset);
    if (sections == 0) {
        error = "is a PE image without sections";
        return false;
    }
    uint64_t tableEnd = nt + flavour.ntHeadersSize + uint64_t(sections) * payloadlayout::kSectionHeaderSize;
    if (tableEnd > size) {
        error = "is truncated inside its PE section table";
        return false;
    }

    // Every offset below lies inside the NT headers, which the section table follows.
    info.ntOffset = static_cast<uint32_t>(nt);
    info.machine = plus ? PeMachine::X64 : PeMachine::X86;
    uint32_t directoryCount = GetU32(headers + flavour.directoryCountOffset);
    uint32_t directories = flavour.directoryCountOffset + 4;
    info.checksumOffset = nt + payloadlayout::kOptionalHeaderOffset + kChecksumInOptionalHeader;
    // Signing tools leave this entry out of the digest whatever the directory count says.
    info.certificateDirectoryOffset = nt + flavour.securityDirectoryOffset;
    if (directoryCount > kResourceDirectoryIndex)
        info.resourceRva = GetU32(headers + directories + kResourceDirectoryIndex * payloadlayout::kDataDirectorySize);
    if (directoryCount > payloadlayout::kSecurityDirectoryIndex) {
        info.certificateOffset = GetU32(headers + flavour.securityDirectoryOffset);
        info.certificateSize = GetU32(headers + flavour.securityDirectoryOffset + 4);
    }

    const uint8_t* table = headers + flavour.ntHeadersSize;
    info.sections.resize(sections);
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* header = table + i * payloadlayout::kSectionHeaderSize;
        PeSection& section = info.sections[i];
        section.virtualSize = GetU32(header + 8);
        section.virtualAddress = GetU32(header + 12);
        section.rawSize = GetU32(header + payloadlayout::kSectionRawSizeOffset);
        section.rawPointer = GetU32(header + payloadlayout::kSectionRawPointerOffset);
    }

    // The updater's rule: the strictly greatest PointerToRawData wins, ties keep the earlier
    // section, and section 0 stands when every pointer is 0.
    uint32_t bestIndex = 0;
    for (uint32_t i = 1; i < sections; ++i) {
        if (info.sections[i].rawPointer > info.sections[bestIndex].rawPointer)
            bestIndex = i;
    }
    const PeSection& best = info.sections[bestIndex];
    uint64_t end = uint64_t(best.rawPointer) + best.rawSize;
    if (end > payloadlayout::kMaxPayloadOffset) {
        error = "has its last section ending at " + Hex(end) + ", beyond the 2 GiB that the updater can seek to";
        return false;
    }
    info.lastSection = bestIndex;
    info.payloadOffset = static_cast<uint32_t>(end);
    return true;
}

bool RvaToFileOffset(const PeInfo& pe, uint64_t rva, uint64_t size, uint64_t& offset)
{
    for (const PeSection& s : pe.sections) {
        if (rva >= s.virtualAddress && rva + size <= uint64_t(s.virtualAddress) + s.rawSize) {
            offset = uint64_t(s.rawPointer) + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

const char* MachineName(PeMachine machine)
{
    return machine == PeMachine::X64 ? "x64" : "x86";
}

bool ReadPeHeaders(InputFile& input, PeInfo& info, std::string& error)
{
    // The span grows at most twice: once the DOS header is known, once the section count is.
    Bytes headers;
    uint64_t want = 0x40;
    for (int step = 0; step < 3; ++step) {
        uint64_t take = std::min<uint64_t>(want, input.Size());
        headers.resize(static_cast<size_t>(take));
        if (!input.Read(0, headers.data(), headers.size())) {
            error = "cannot be read";
            return false;
        }
        want = PeHeaderSpan(headers.data(), headers.size());
        if (want > kMaxHeaderSpan) {
            error = "is not a PE image the updater can be (its headers lie too far into the file)";
            return false;
        }
        if (want <= headers.size() || take == input.Size())
            break;
    }
    return ParsePeHeaders(headers.data(), headers.size(), info, error);
}

}  // namespace pack
