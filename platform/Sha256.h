// SHA-256 (FIPS 180-4) over data that arrives in pieces, as the carried files do while they
// are extracted. Blocks go through the processor's SHA instructions where it has them, and
// through portable code otherwise; both give the same digests.
#pragma once

#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    enum class Path : uint8_t { Portable, ShaExtensions };

    // The fastest path this processor can run; the portable one where it has no SHA
    // extensions (or the build targets another architecture).
    static Path FastestPath();

    explicit Sha256(Path path = FastestPath()) : path_(path) { Reset(); }
    void Reset();
    void Add(const void* data, size_t size);
    // Writes the digest and starts over.
    void Finish(uint8_t (&digest)[32]);

private:
    void Blocks(const uint8_t* blocks, size_t count);

    uint32_t state_[8];
    uint8_t pending_[64];
    uint64_t total_;
    Path path_;
};
