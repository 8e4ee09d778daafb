// MD5 (RFC 1321), for the MsiFileHash rows that tell Windows Installer a file has changed.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace mkpatch {

std::array<uint8_t, 16> Md5(const std::vector<uint8_t>& data);

}  // namespace mkpatch
