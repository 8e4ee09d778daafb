// The packer's writing and reading of the payload that follows the updater's image, laid out
// as PayloadLayout.h describes it: the counted product name and version, the entry count, the
// update table, then every file's bytes in table order.
#pragma once

#include "ByteOrder.h"
#include "InputFile.h"
#include "PayloadLayout.h"

#include <string>
#include <vector>

namespace pack {

constexpr uint8_t kCompoundSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

struct PayloadEntry {
    std::u16string fileName;
    uint32_t fileSize = 0;
};

// Everything in front of the files' data. The caller has checked the lengths.
Bytes EncodePayloadHeader(const std::u16string& name, const std::u16string& version,
                          const std::vector<PayloadEntry>& entries);

struct PayloadRecord {
    std::u16string fileName;  // up to the NUL, or all 260 units when there is none
    bool terminated = true;
    uint32_t fileSize = 0;
    uint32_t reserved = 0;
    uint64_t dataOffset = 0;  // in the file
};

struct PayloadLayout {
    uint64_t offset = 0;  // P
    uint8_t nameBytes = 0;
    uint8_t versionBytes = 0;
    std::u16string name;
    std::u16string version;
    std::vector<PayloadRecord> records;
    uint64_t end = 0;  // behind the last file's data
};

// Reads the payload that starts at `offset`. False with a reason when the header or the table
// are cut off or the files' data reach beyond the end of the input; never allocates more than
// the input could hold.
bool ReadPayload(InputFile& input, uint64_t offset, PayloadLayout& layout, std::string& error);

}  // namespace pack
