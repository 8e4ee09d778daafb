// Windows file-name rules for carried files. Case folding covers the scripts whose case pairs
// Windows' upper-case table maps one unit to one unit (Latin, Greek, Cyrillic, full-width
// Latin); other units compare exactly, which can only let two names through that Windows
// would also keep apart or, rarely, miss a clash in another script.
#include "FileName.h"

#include "PayloadLayout.h"

#include <cstdint>

namespace pack {

namespace {

char16_t UpperUnit(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A: pairs of upper then lower, with the runs that start on an odd unit.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : static_cast<char16_t>(c - 1);
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF))
        return static_cast<char16_t>(c & ~1u);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return static_cast<char16_t>(c - 0x20);
    return c;
}

std::u16string Upper(const std::u16string& text)
{
    std::u16string out = text;
    for (char16_t& c : out)
        c = UpperUnit(c);
    return out;
}

bool IsReservedDeviceName(const std::u16string& name)
{
    // Windows maps these to devices whatever extension follows, so "nul.msp" is no file.
    std::u16string base = Upper(name.substr(0, name.find(u'.')));
    while (!base.empty() && base.back() == u' ')
        base.pop_back();
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL")
        return true;
    if (base.size() != 4)
        return false;
    std::u16string stem = base.substr(0, 3);
    if (stem != u"COM" && stem != u"LPT")
        return false;
    char16_t digit = base[3];
    // Windows also reserves the superscript digits one to three.
    return (digit >= u'1' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

std::string CheckWindowsFileName(const std::u16string& name)
{
    if (name.empty())
        return "the file name is empty";
    if (name.size() > payloadlayout::kMaxFileNameUnits)
        return "the file name is " + std::to_string(name.size()) + " UTF-16 units long; at most " +
               std::to_string(payloadlayout::kMaxFileNameUnits) + " fit the update table";
    for (char16_t c : name) {
        if (c < 0x20)
            return "the file name holds a control character";
        if (c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
            c == u'|')
            return std::string("the file name holds '") + static_cast<char>(c) +
                   "', which Windows does not allow in file names";
    }
    if (name.back() == u'.' || name.back() == u' ')
        return "the file name ends in a dot or a space, which Windows removes";
    if (IsReservedDeviceName(name))
        return "the file name is a reserved Windows device name";
    return "";
}

std::string CheckPatchListName(const std::u16string& name)
{
    if (name.find(u';') != std::u16string::npos)
        return "the file name holds ';', which Windows Installer takes as the end of a patch's path";
    return "";
}

bool SameWindowsFileName(const std::u16string& a, const std::u16string& b)
{
    return a.size() == b.size() && Upper(a) == Upper(b);
}

}  // namespace pack
