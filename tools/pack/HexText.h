// Offsets, sizes and header values as the packer's messages and reports show them: "0x"
// followed by upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace pack {

inline std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace pack
