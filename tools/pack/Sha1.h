// SHA-1 (FIPS 180-4), only for reading old Authenticode signatures, whose image digest is
// SHA-1. Nothing the packer writes depends on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pack {

class Sha1 {
public:
    Sha1();
    void Update(const uint8_t* data, size_t size);
    std::array<uint8_t, 20> Finish();

private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 5> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace pack
