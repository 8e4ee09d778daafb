// The packed stream-name alphabet of Windows Installer databases (see MsiStreamName.h).
#include "MsiStreamName.h"

#include "TransformFormat.h"

namespace compound {

std::u16string EncodeMsiStreamName(const std::string& name, bool table)
{
    // Never longer than the prefix and one unit per character.
    std::u16string out(name.size() + 2, u'\0');
    out.resize(EncodeStreamName(name.c_str(), table, &out[0], out.size()));
    return out;
}

std::string DecodeMsiStreamName(const std::u16string& stored)
{
    std::string out;
    for (char16_t c : stored) {
        if (c == kTableStreamPrefix) {
            out += '!';
        } else if (c >= 0x3800 && c < 0x4800) {
            out += kStreamNameAlphabet[(c - 0x3800) & 0x3F];
            out += kStreamNameAlphabet[((c - 0x3800) >> 6) & 0x3F];
        } else if (c >= 0x4800 && c < 0x4840) {
            out += kStreamNameAlphabet[c - 0x4800];
        } else if (c < 0x80) {
            out += char(c);
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace compound
