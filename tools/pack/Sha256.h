// SHA-256 (FIPS 180-4), fed in pieces so that inspect can hash large carried files while it
// streams them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pack {

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, size_t size);
    std::array<uint8_t, 32> Finish();
    std::string FinishHex(); // lower-case, 64 digits

private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace pack
