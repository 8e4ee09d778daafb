// SHA-256 (FIPS 180-4) over data that arrives in pieces, as the carried files do while they
// are extracted.
#pragma once

#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    Sha256() { Reset(); }
    void Reset();
    void Add(const void* data, size_t size);
    // Writes the digest and starts over.
    void Finish(uint8_t (&digest)[32]);

private:
    void Block(const uint8_t* block);

    uint32_t state_[8];
    uint8_t pending_[64];
    uint64_t total_;
};
