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
    uint8_t buffer[256];
    if (!input.Read(at, &byteCount, 1) || !input.Read(at + 1, buffer, byteCount))
        return false;
    // An odd last byte belongs to no character, as in the updater.
    text.clear();
    for (size_t i = 0; i + 1 < byteCount; i += 2)
        text.push_back(GetU16(buffer + i));
    at += 1 + byteCount;
    return true;
}

}  // namespace

Bytes EncodePayloadHeader(const std::u16string& name, const std::u16string& version,
                          const std::vector<PayloadEntry>& entries)
{
    Bytes out;
    out.reserve(6 + 4 * kMaxTextUnits + entries.size() * kRecordSize);
    PutText(out, name);
    PutText(out, version);
    PutU32(out, static_cast<uint32_t>(entries.size()));
    for (const PayloadEntry& entry : entries) {
        size_t start = out.size();
        for (char16_t unit : entry.fileName)
            PutU16(out, unit);
        out.resize(start + kFileNameUnits * 2, 0);
        PutU32(out, entry.fileSize);
        PutU32(out, 0);
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
    uint8_t countBytes[4];
    if (!input.Read(at, countBytes, 4)) {
        error = "the payload is cut off before the entry count";
        return false;
    }
    at += 4;
    uint32_t count = GetU32(countBytes);
    uint64_t remaining = input.Size() - at;
    if (uint64_t(count) * kRecordSize > remaining) {
        error = "the update table of " + std::to_string(count) + " entries reaches beyond the end of the file";
        return false;
    }
    layout.records.reserve(count);
    uint64_t dataOffset = at + uint64_t(count) * kRecordSize;
    uint8_t raw[kRecordSize];
    for (uint32_t i = 0; i < count; ++i, at += kRecordSize) {
        if (!input.Read(at, raw, kRecordSize)) {
            error = "reading update table entry " + std::to_string(i) + " failed";
            return false;
        }
        PayloadRecord record;
        record.terminated = false;
        for (size_t unit = 0; unit < kFileNameUnits; ++unit) {
            char16_t c = GetU16(raw + 2 * unit);
            if (c == 0) {
                record.terminated = true;
                break;
            }
            record.fileName.push_back(c);
        }
        record.fileSize = GetU32(raw + 520);
        record.reserved = GetU32(raw + 524);
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
