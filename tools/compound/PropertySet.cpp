// Property set streams: header, one section offset, the section's (id, offset) table and the
// typed values. Every read is checked against the stream's length.
#include "PropertySet.h"

#include <cstring>

namespace compound {

namespace {

const uint8_t kSummaryFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                   0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

bool Fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

bool Get32(const std::vector<uint8_t>& b, uint64_t at, uint32_t& value)
{
    if (at + 4 > b.size())
        return false;
    value = uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
    return true;
}

void Put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

}  // namespace

bool ReadProperties(const std::vector<uint8_t>& stream, std::vector<Property>& out, std::string* error)
{
    out.clear();
    uint32_t order = 0, sections = 0, section = 0;
    if (!Get32(stream, 0, order) || (order & 0xFFFF) != 0xFFFE)
        return Fail(error, "not a property set");
    if (!Get32(stream, 24, sections) || sections < 1)
        return Fail(error, "property set has no section");
    if (!Get32(stream, 44, section))
        return Fail(error, "property set is truncated");
    uint32_t size = 0, count = 0;
    if (!Get32(stream, section, size) || !Get32(stream, uint64_t(section) + 4, count))
        return Fail(error, "property section lies outside the stream");
    if (uint64_t(count) * 8 > stream.size())
        return Fail(error, "property section claims too many properties");
    for (uint32_t i = 0; i < count; i++) {
        Property p;
        uint32_t offset = 0, type = 0;
        uint64_t entry = uint64_t(section) + 8 + uint64_t(i) * 8;
        if (!Get32(stream, entry, p.id) || !Get32(stream, entry + 4, offset))
            return Fail(error, "property table lies outside the stream");
        uint64_t at = uint64_t(section) + offset;
        if (!Get32(stream, at, type))
            return Fail(error, "property value lies outside the stream");
        p.type = uint16_t(type);
        uint32_t value = 0;
        switch (p.type) {
        case VT_I2:
        case VT_I4:
            if (!Get32(stream, at + 4, value))
                return Fail(error, "property value lies outside the stream");
            p.integer = p.type == VT_I2 ? int16_t(value & 0xFFFF) : int32_t(value);
            break;
        case VT_LPSTR: {
            uint32_t length = 0;
            if (!Get32(stream, at + 4, length) || at + 8 + length > stream.size())
                return Fail(error, "string property lies outside the stream");
            p.text.assign(reinterpret_cast<const char*>(stream.data() + at + 8), length);
            size_t end = p.text.find('\0');
            if (end != std::string::npos)
                p.text.resize(end);
            break;
        }
        case VT_FILETIME: {
            uint32_t high = 0;
            if (!Get32(stream, at + 4, value) || !Get32(stream, at + 8, high))
                return Fail(error, "property value lies outside the stream");
            p.fileTime = (uint64_t(high) << 32) | value;
            break;
        }
        default:
            break;  // kept with its id and type only
        }
        out.push_back(p);
    }
    return true;
}

bool ReadStringProperty(const std::vector<uint8_t>& stream, uint32_t id, std::string& value, std::string* error)
{
    std::vector<Property> properties;
    if (!ReadProperties(stream, properties, error))
        return false;
    for (const Property& p : properties) {
        if (p.id == id && p.type == VT_LPSTR) {
            value = p.text;
            return true;
        }
    }
    return Fail(error, "no string property " + std::to_string(id));
}

std::vector<uint8_t> WriteProperties(const std::vector<Property>& properties)
{
    std::vector<uint8_t> values;
    std::vector<uint32_t> offsets;
    const uint32_t tableSize = 8 + uint32_t(properties.size()) * 8;
    for (const Property& p : properties) {
        offsets.push_back(tableSize + uint32_t(values.size()));
        Put32(values, p.type);
        switch (p.type) {
        case VT_I2:
            Put16(values, uint16_t(p.integer));
            Put16(values, 0);
            break;
        case VT_I4:
            Put32(values, uint32_t(p.integer));
            break;
        case VT_LPSTR:
            Put32(values, uint32_t(p.text.size() + 1));
            values.insert(values.end(), p.text.begin(), p.text.end());
            values.push_back(0);
            while (values.size() % 4 != 0)
                values.push_back(0);
            break;
        case VT_FILETIME:
            Put32(values, uint32_t(p.fileTime));
            Put32(values, uint32_t(p.fileTime >> 32));
            break;
        default:
            break;
        }
    }
    std::vector<uint8_t> out;
    Put16(out, 0xFFFE);            // byte order
    Put16(out, 0);                 // format version
    Put32(out, 0x00020006);        // originating system: Win32, version 6
    out.insert(out.end(), 16, 0);  // class id
    Put32(out, 1);                 // one section
    out.insert(out.end(), kSummaryFmtid, kSummaryFmtid + 16);
    Put32(out, 48);  // the section follows this header
    Put32(out, tableSize + uint32_t(values.size()));
    Put32(out, uint32_t(properties.size()));
    for (size_t i = 0; i < properties.size(); i++) {
        Put32(out, properties[i].id);
        Put32(out, offsets[i]);
    }
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

}  // namespace compound
