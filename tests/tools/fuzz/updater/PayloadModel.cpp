// The payload as its format describes it: N1 and N1 bytes of UTF-16LE name (an odd last byte
// belongs to no unit), N2 and the version likewise, the 32-bit entry count, the 528-byte
// entries (260 UTF-16 units of name, 32-bit size, 32-bit reserved), then the files' data in
// table order. All numbers are little-endian. Only the numbers come from PayloadLayout.h, which
// the updater compiles too; the reading is this file's own.
#include "PayloadModel.h"

#include <cstring>

#include "PayloadLayout.h"
#include "WindowsNames.h"

using payloadlayout::kFileNameUnits;
using payloadlayout::kRecordSize;

static std::wstring Utf16(const uint8_t* bytes, size_t units)
{
    std::wstring text;
    for (size_t i = 0; i < units; ++i)
        text += static_cast<wchar_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return text;
}

// One counted text at offset; false when the payload ends within it.
static bool ReadText(const uint8_t* payload, size_t size, size_t& offset, std::wstring& text)
{
    if (offset >= size)
        return false;
    size_t count = payload[offset];
    if (size - offset - 1 < count)
        return false;
    text = Utf16(payload + offset + 1, count / 2);
    offset += 1 + count;
    return true;
}

PayloadModel ReadPayloadModel(const uint8_t* payload, size_t size)
{
    PayloadModel model;
    size_t offset = 0;
    if (!ReadText(payload, size, offset, model.productName) || !ReadText(payload, size, offset, model.productVersion))
        return model;
    model.headerRead = true;
    model.countOffset = offset;
    if (size - offset < 4)
        return model;
    model.countRead = true;
    model.count = static_cast<uint32_t>(payload[offset] | payload[offset + 1] << 8 | payload[offset + 2] << 16 |
                                        static_cast<uint32_t>(payload[offset + 3]) << 24);
    offset += 4;
    model.tableFits = uint64_t(model.count) * kRecordSize <= size - offset;

    uint64_t dataOffset = offset + uint64_t(model.count) * kRecordSize;
    for (uint32_t i = 0; i < model.count && size - offset >= kRecordSize; ++i) {
        ModelEntry entry;
        memcpy(&entry.raw, payload + offset, sizeof entry.raw);
        size_t units = 0;
        while (units < kFileNameUnits && (payload[offset + 2 * units] | payload[offset + 2 * units + 1]) != 0)
            ++units;
        entry.name = Utf16(payload + offset, units);
        entry.terminated = units < kFileNameUnits;
        entry.dataOffset = dataOffset;
        dataOffset += entry.raw.fileSize;
        model.entries.push_back(entry);
        offset += kRecordSize;
    }
    return model;
}

size_t ExpectedFilesWritten(const PayloadModel& model, size_t payloadSize, const std::vector<bool>& nameUsable)
{
    if (!model.countRead || !model.tableFits)
        return 0;
    for (size_t i = 0; i < model.entries.size(); ++i) {
        const ModelEntry& entry = model.entries[i];
        if (!nameUsable[i])
            return i;
        for (size_t k = 0; k < i; ++k) {
            if (SameFileName(model.entries[k].name, entry.name))
                return i;
        }
        if (entry.dataOffset + entry.raw.fileSize > payloadSize)
            return i;
    }
    return model.entries.size();
}
