// Summary information streams ("\005SummaryInformation"): an OLE property set with one
// section. Reading is bounds-checked; strings come back as the stored 8-bit text (code page
// 1252 in Windows Installer packages), which for product codes and templates is ASCII.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compound {

enum : uint32_t {
    PID_CODEPAGE = 1,
    PID_TITLE = 2,
    PID_SUBJECT = 3,
    PID_AUTHOR = 4,
    PID_KEYWORDS = 5,
    PID_COMMENTS = 6,
    PID_TEMPLATE = 7,
    PID_LASTAUTHOR = 8,
    PID_REVNUMBER = 9,
    PID_PAGECOUNT = 14,
    PID_WORDCOUNT = 15,
    PID_CHARCOUNT = 16,
    PID_APPNAME = 18,
    PID_SECURITY = 19,
};

enum : uint16_t { VT_I2 = 2, VT_I4 = 3, VT_LPSTR = 30, VT_FILETIME = 64 };

struct Property {
    uint32_t id = 0;
    uint16_t type = 0;
    int32_t integer = 0;    // VT_I2, VT_I4
    std::string text;       // VT_LPSTR, without its terminator
    uint64_t fileTime = 0;  // VT_FILETIME
};

// All properties of the first section, in stored order. False with a reason when the
// stream is not a well-formed property set.
bool ReadProperties(const std::vector<uint8_t>& stream, std::vector<Property>& out, std::string* error);

// The string value of one property; false when the stream is malformed or has no such
// string property.
bool ReadStringProperty(const std::vector<uint8_t>& stream, uint32_t id, std::string& value, std::string* error);

// A property set stream with one section holding the given properties (FMTID of summary
// information), as Windows Installer tools write it.
std::vector<uint8_t> WriteProperties(const std::vector<Property>& properties);

}  // namespace compound
