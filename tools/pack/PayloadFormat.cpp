// Writing and reading the payload's header and update table.
#include "PayloadFormat.h"

namespace pack {

namespace {

void PutText(Bytes& out, const std::u16string& text)
{
    out.push_back(static_cast<uint8_t>(text.size() * 2));
    for (char16_t unit : text)
        PutU16(out, unit);
}

bool ReadText(InputFile& input, uint64_t& at, uint8_t& byteCount, std::u16string& text)
{
    uint8_t buffer[payloadlayout::kMaxTextBytes];
    if (!input.Read(at, &byteCount, payloadlayout::kTextCountSize) ||
        !input.Read(at + payloadlayout::kTextCountSize, buffer, byteCount))
        return false;
    // An odd last byte belongs to no character, as in the updater.
    text.clear();
    for (size_t i = 0; i + 1 < byteCount; i += 2)
        text.push_back(GetU16(buffer + i));
    at += payloadlayout::kTextCountSize + byteCount;
    return true;
}

}  // namespace

Bytes EncodePayloadHeader(const std::u16string& name, const std::u16string& version,
                          const std::vector<PayloadEntry>& entries)
{
    Bytes out;
    out.reserve(2 * (payloadlayout::kTextCountSize + 2 * payloadlayout::kMaxTextUnits) +
                payloadlayout::kEntryCountSize + entries.size() * payloadlayout::kRecordSize);
    PutText(out, name);
    PutText(out, version);
    PutU32(out, static_cast<uint32_t>(entries.size()));
    for (const PayloadEntry& entry : entries) {
        size_t start = out.size();
        for (char16_t unit : entry.fileName)
            PutU16(out, unit);
        out.resize(start + payloadlayout::kFileSizeOffset, 0);
        PutU32(out, entry.fileSize);
        PutU32(out, 0);  // reserved
    }
    return out;
}

bool ReadPayload(InputFile& input, uint64_t offset, PayloadLayout& layout, std::string& error)
{
    layout = PayloadLayout{};
    layout.offset = offset;
    uint64_t at = offset;
    if (!ReadText(input, at, layout.nameBytes, layout.name)) {
        error = "the payload is cut off inside the product name";
        return false;
    }
    if (!ReadText(input, at, layout.versionBytes, layout.version)) {
        error = "the payload is cut off inside the product version";
        return false;
    }
    uint8_t countBytes[payloadlayout::kEntryCountSize];
    if (!input.Read(at, countBytes, sizeof countBytes)) {
        error = "the payload is cut off before the entry count";
        return false;
    }
    at += sizeof countBytes;
    uint32_t count = GetU32(countBytes);
    uint64_t remaining = input.Size() - at;
    if (uint64_t(count) * payloadlayout::kRecordSize > remaining) {
        error = "the update table of " + std::to_string(count) + " entries reaches beyond the end of the file";
        return false;
    }
    layout.records.reserve(count);
    uint64_t dataOffset = at + uint64_t(count) * payloadlayout::kRecordSize;
    uint8_t raw[payloadlayout::kRecordSize];
    for (uint32_t i = 0; i < count; ++i, at += payloadlayout::kRecordSize) {
        if (!input.Read(at, raw, payloadlayout::kRecordSize)) {
            error = "reading update table entry " + std::to_string(i) + " failed";
            return false;
        }
        PayloadRecord record;
        record.terminated = false;
        for (size_t unit = 0; unit < payloadlayout::kFileNameUnits; ++unit) {
            char16_t c = GetU16(raw + payloadlayout::kFileNameOffset + 2 * unit);
            if (c == 0) {
                record.terminated = true;
                break;
            }
            record.fileName.push_back(c);
        }
        record.fileSize = GetU32(raw + payloadlayout::kFileSizeOffset);
        record.reserved = GetU32(raw + payloadlayout::kReservedOffset);
        record.dataOffset = dataOffset;
        dataOffset += record.fileSize;
        if (dataOffset > input.Size()) {
            error = "the data of entry " + std::to_string(i) + " reach beyond the end of the file";
            return false;
        }
        layout.records.push_back(std::move(record));
    }
    layout.end = dataOffset;
    return true;
}

}  // namespace pack
