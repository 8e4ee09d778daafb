// SHA-1 (FIPS 180-4), only for reading old Authenticode signatures, whose image digest is
// SHA-1. Nothing the packer writes depends on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "MessageBlocks.h"

namespace pack {

class Sha1 : public MessageBlocks<Sha1> {
public:
    Sha1();
    std::array<uint8_t, 20> Finish();

private:
    friend class MessageBlocks<Sha1>;
    void Block(const uint8_t* block);
    std::array<uint32_t, 5> state_;
};

}  // namespace pack
