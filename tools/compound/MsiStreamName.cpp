// The packed stream-name alphabet of Windows Installer databases (see MsiStreamName.h).
#include "MsiStreamName.h"

namespace compound {

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";

int Value(char c)
{
    for (int i = 0; i < 64; i++)
        if (kAlphabet[i] == c)
            return i;
    return -1;
}

}  // namespace

std::u16string EncodeMsiStreamName(const std::string& name, bool table)
{
    std::u16string out;
    if (table)
        out += char16_t(0x4840);
    for (size_t i = 0; i < name.size(); i++) {
        int first = Value(name[i]);
        if (first < 0) {
            out += char16_t(static_cast<unsigned char>(name[i]));
            continue;
        }
        int second = i + 1 < name.size() ? Value(name[i + 1]) : -1;
        if (second < 0) {
            out += char16_t(0x4800 + first);
        } else {
            out += char16_t(0x3800 + (second << 6) + first);
            i++;
        }
    }
    return out;
}

std::string DecodeMsiStreamName(const std::u16string& stored)
{
    std::string out;
    for (char16_t c : stored) {
        if (c == 0x4840) {
            out += '!';
        } else if (c >= 0x3800 && c < 0x4800) {
            out += kAlphabet[(c - 0x3800) & 0x3F];
            out += kAlphabet[((c - 0x3800) >> 6) & 0x3F];
        } else if (c >= 0x4800 && c < 0x4840) {
            out += kAlphabet[c - 0x4800];
        } else if (c < 0x80) {
            out += char(c);
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace compound
