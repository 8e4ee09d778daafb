// SHA-256 (FIPS 180-4), fed in pieces so that inspect can hash large carried files while it
// streams them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include "MessageBlocks.h"

namespace pack {

class Sha256 : public MessageBlocks<Sha256> {
public:
    Sha256();
    std::array<uint8_t, 32> Finish();
    std::string FinishHex();  // lower-case, 64 digits

private:
    friend class MessageBlocks<Sha256>;
    void Block(const uint8_t* block);
    std::array<uint32_t, 8> state_;
};

}  // namespace pack
