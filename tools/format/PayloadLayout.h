// The layout of the payload behind the updater's image, and the facts of a PE image that say
// where that payload begins. The updater's reader (payload/), the packer's writer and its inspect
// and verify (tools/pack) and the host fuzzer of the updater's reader all take these numbers
// from here, so writer and reader cannot drift apart. Portable C++17: constants only, no
// allocation, no platform headers.
//
// At the payload offset P, every number little-endian, nothing holding an offset (each position
// follows from the sizes in front of it):
//   N1, one byte counting bytes; N1 bytes of the product name in UTF-16, no terminator
//   N2, one byte; N2 bytes of the product version in UTF-16
//   C, four bytes: the entries of the update table
//   C entries of 528 bytes: the file name in 260 UTF-16 units, ended by a NUL within them;
//     the file's size (32 bits); a reserved 32-bit field, written as 0
//   the bytes of every file, one after another in table order
// A reader takes an odd count whole; its last byte belongs to no character.
#pragma once

#include <cstdint>

namespace payloadlayout {

// The counted texts: the product name and the version.
constexpr uint32_t kTextCountSize = 1;
constexpr uint32_t kMaxTextBytes = 255;  // all that the count can say
constexpr uint32_t kMaxTextUnits = 127;  // what a writer stores: whole units only

// The update table.
constexpr uint32_t kEntryCountSize = 4;
constexpr uint32_t kFileNameUnits = 260;
constexpr uint32_t kMaxFileNameUnits = kFileNameUnits - 1;  // the NUL must fit in the field
constexpr uint32_t kFileNameOffset = 0;
constexpr uint32_t kFileSizeOffset = 520;
constexpr uint32_t kReservedOffset = 524;
constexpr uint32_t kRecordSize = 528;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFF;
static_assert(kFileSizeOffset == kFileNameOffset + 2 * kFileNameUnits && kReservedOffset == kFileSizeOffset + 4 &&
                  kRecordSize == kReservedOffset + 4,
              "an entry's fields follow one another without padding");
static_assert(2 * kMaxTextUnits <= kMaxTextBytes, "a stored text's byte count fits its count byte");

// Where the payload begins: P is the end of the raw data of the section with the greatest
// PointerToRawData (ties keep the earlier section; section 0 when every pointer is 0). The
// updater takes its section table at the fixed distance of its own flavour's NT headers,
// whatever the file header says, so a stub whose optional header has another size must be
// refused; and it seeks to P with a signed 32-bit distance, so P stays below 2 GiB.
constexpr uint32_t kNtHeadersPointerOffset = 0x3C;  // e_lfanew, in the DOS header
constexpr uint32_t kMaxPayloadOffset = 0x7FFFFFFF;

// Offsets from the start of the NT headers (the "PE\0\0" signature).
constexpr uint32_t kSectionCountOffset = 6;         // the file header's NumberOfSections
constexpr uint32_t kOptionalHeaderSizeOffset = 20;  // the file header's SizeOfOptionalHeader
constexpr uint32_t kOptionalHeaderOffset = 24;

// The section table's entries.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionRawSizeOffset = 16;     // SizeOfRawData
constexpr uint32_t kSectionRawPointerOffset = 20;  // PointerToRawData

// The data directories (address and size each) follow their count. The security directory's
// address is a file offset: that of the certificate table, which in a signed updater without a
// payload lies right at P.
constexpr uint32_t kDataDirectorySize = 8;
constexpr uint32_t kSecurityDirectoryIndex = 4;

// What differs between a 32-bit (PE32) and a 64-bit (PE32+) image, which carries 64-bit image
// base and stack and heap sizes in front of its data directories.
struct ImageFlavour {
    uint16_t magic;                    // the optional header's first field
    uint16_t optionalHeaderSize;       // as SizeOfOptionalHeader must say
    uint32_t ntHeadersSize;            // where the section table begins, from the NT headers
    uint32_t directoryCountOffset;     // NumberOfRvaAndSizes, from the NT headers
    uint32_t securityDirectoryOffset;  // the security directory's entry, from the NT headers
};

constexpr ImageFlavour kPe32 = {0x10B, 224, 248, 116, 152};
constexpr ImageFlavour kPe32Plus = {0x20B, 240, 264, 132, 168};

constexpr bool FlavourIsConsistent(const ImageFlavour& flavour)
{
    return flavour.ntHeadersSize == kOptionalHeaderOffset + flavour.optionalHeaderSize &&
           flavour.securityDirectoryOffset ==
               flavour.directoryCountOffset + 4 + kSecurityDirectoryIndex * kDataDirectorySize;
}
static_assert(FlavourIsConsistent(kPe32) && FlavourIsConsistent(kPe32Plus), "the NT headers of either flavour");

}  // namespace payloadlayout
