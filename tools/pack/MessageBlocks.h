// What SHA-1 and SHA-256 share (FIPS 180-4): the message is cut into 64-byte blocks, a block
// that is not yet full waits for the next piece, and the end is padded with 0x80, zeros and
// the message's length in bits, big-endian. Hash supplies Block(const uint8_t*) and befriends
// this class.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pack {

template <class Hash>
class MessageBlocks {
public:
    void Update(const uint8_t* data, size_t size)
    {
        totalBytes_ += size;
        if (pendingSize_ > 0) {
            size_t take = std::min(size, 64 - pendingSize_);
            std::memcpy(pending_.data() + pendingSize_, data, take);
            pendingSize_ += take;
            data += take;
            size -= take;
            if (pendingSize_ < 64)
                return;
            Self().Block(pending_.data());
            pendingSize_ = 0;
        }
        for (; size >= 64; data += 64, size -= 64)
            Self().Block(data);
        std::memcpy(pending_.data(), data, size);
        pendingSize_ = size;
    }

protected:
    // Pads the message and returns the state words as the digest's big-endian bytes.
    template <size_t Words>
    std::array<uint8_t, 4 * Words> FinishWith(const std::array<uint32_t, Words>& state)
    {
        uint64_t bits = totalBytes_ * 8;
        uint8_t padding[72] = {0x80};
        size_t padSize = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
        for (int i = 0; i < 8; ++i)
            padding[padSize + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
        Update(padding, padSize + 8);
        std::array<uint8_t, 4 * Words> digest;
        for (size_t i = 0; i < Words; ++i)
            for (size_t k = 0; k < 4; ++k)
                digest[4 * i + k] = static_cast<uint8_t>(state[i] >> (24 - 8 * k));
        return digest;
    }

private:
    Hash& Self() { return static_cast<Hash&>(*this); }

    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace pack
