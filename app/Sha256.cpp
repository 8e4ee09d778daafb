// SHA-256, written for size: one round loop and the message schedule kept in 16 words.
#include "Sha256.h"

namespace {

const uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

uint32_t Rotate(uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

}  // namespace

void Sha256::Reset()
{
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (int i = 0; i < 8; ++i)
        state_[i] = initial[i];
    total_ = 0;
}

void Sha256::Block(const uint8_t* block)
{
    uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
               block[4 * i + 3];
    uint32_t v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = state_[i];
    for (int i = 0; i < 64; ++i) {
        if (i >= 16) {
            uint32_t a = w[(i + 1) & 15];
            uint32_t b = w[(i + 14) & 15];
            w[i & 15] += (Rotate(a, 7) ^ Rotate(a, 18) ^ (a >> 3)) + w[(i + 9) & 15] +
                         (Rotate(b, 17) ^ Rotate(b, 19) ^ (b >> 10));
        }
        uint32_t t1 = v[7] + (Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25)) +
                      ((v[4] & v[5]) ^ (~v[4] & v[6])) + roundConstants[i] + w[i & 15];
        uint32_t t2 = (Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22)) +
                      ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        for (int k = 7; k > 0; --k)
            v[k] = v[k - 1];
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        state_[i] += v[i];
}

void Sha256::Add(const void* data, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        size_t used = static_cast<size_t>(total_ % 64);
        size_t take = 64 - used < size ? 64 - used : size;
        for (size_t i = 0; i < take; ++i)
            pending_[used + i] = bytes[i];
        total_ += take;
        bytes += take;
        size -= take;
        if (total_ % 64 == 0)
            Block(pending_);
    }
}

void Sha256::Finish(uint8_t (&digest)[32])
{
    uint64_t bits = total_ * 8;
    uint8_t padding[72] = {0x80};
    size_t padLength = (total_ % 64 < 56 ? 56 : 120) - static_cast<size_t>(total_ % 64);
    for (int i = 0; i < 8; ++i)
        padding[padLength + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Add(padding, padLength + 8);
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    Reset();
}
