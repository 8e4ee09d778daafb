// SHA-256 with two block functions. The portable one is written for size, a loop over the
// rounds with the working variables in registers. The other uses the SHA extensions of x86
// processors (SHA256RNDS2 does two rounds, SHA256MSG1/MSG2 the message schedule), which hash
// several times faster; it is chosen once per object, from CPUID, and only where the
// processor reports SHA, SSSE3 (the byte shuffle) and SSE4.1 (the blend). Whole blocks are
// hashed straight from the caller's buffer, and all of them in one call, so that the state
// stays in registers from block to block.
#include "Sha256.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define SHA256_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace {

alignas(16) const uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotate(uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

void PortableBlocks(uint32_t (&state)[8], const uint8_t* block, size_t count)
{
    for (; count > 0; --count, block += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
                   block[4 * i + 3];
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            if (i >= 16) {
                uint32_t x = w[(i + 1) & 15];
                uint32_t y = w[(i + 14) & 15];
                w[i & 15] += (Rotate(x, 7) ^ Rotate(x, 18) ^ (x >> 3)) + w[(i + 9) & 15] +
                             (Rotate(y, 17) ^ Rotate(y, 19) ^ (y >> 10));
            }
            uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                          roundConstants[i] + w[i & 15];
            uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#if SHA256_X86

// GCC and Clang compile the instructions only into functions marked for them, so the rest of
// the program still runs on processors without them. 32-bit Windows keeps the stack 4-byte
// aligned, and the function spills 16-byte registers: it aligns its own frame there.
#if defined(__GNUC__) && defined(__i386__)
#define SHA256_TARGET __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#elif defined(__GNUC__)
#define SHA256_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#else
#define SHA256_TARGET
#endif

// The instructions keep the state as two halves, ABEF and CDGH (A in the top lane), and take
// the message as big-endian words; the state array holds A..H in order.
SHA256_TARGET void ShaExtensionBlocks(uint32_t (&state)[8], const uint8_t* block, size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);

    for (; count > 0; --count, block += 64) {
        const __m128i* words = reinterpret_cast<const __m128i*>(block);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(words), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byteSwap);
        __m128i abefBefore = abef;
        __m128i cdghBefore = cdgh;
        // Sixteen steps of four rounds; m0 holds the step's four message words, and each of
        // the first twelve steps derives the words four steps ahead. Unrolled, the words stay
        // in registers instead of moving down the line at every step.
#if defined(__GNUC__)
#pragma GCC unroll 16
#endif
        for (int step = 0; step < 16; ++step) {
            __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(roundConstants) + step);
            __m128i wk = _mm_add_epi32(m0, k);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
            __m128i next = m0;
            if (step < 12) {
                next = _mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4));
                next = _mm_sha256msg2_epu32(next, m3);
            }
            m0 = m1;
            m1 = m2;
            m2 = m3;
            m3 = next;
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaExtensions()
{
    unsigned int leaf1[4] = {};
    unsigned int leaf7[4] = {};
#if defined(_MSC_VER)
    int registers[4];
    __cpuid(registers, 0);
    if (registers[0] < 7)
        return false;
    __cpuid(registers, 1);
    leaf1[2] = static_cast<unsigned int>(registers[2]);
    __cpuidex(registers, 7, 0);
    leaf7[1] = static_cast<unsigned int>(registers[1]);
#else
    if (__get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid(1, leaf1[0], leaf1[1], leaf1[2], leaf1[3]);
    __cpuid_count(7, 0, leaf7[0], leaf7[1], leaf7[2], leaf7[3]);
#endif
    bool ssse3 = (leaf1[2] & (1u << 9)) != 0;
    bool sse41 = (leaf1[2] & (1u << 19)) != 0;
    bool sha = (leaf7[1] & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

#endif  // SHA256_X86

}  // namespace

Sha256::Path Sha256::FastestPath()
{
#if SHA256_X86
    // Asked afresh each time: a function-local static would bring in the C++ runtime's guard
    // functions and with them its exception support, which the updater is built without.
    return ProcessorHasShaExtensions() ? Path::ShaExtensions : Path::Portable;
#else
    return Path::Portable;
#endif
}

void Sha256::Reset()
{
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (int i = 0; i < 8; ++i)
        state_[i] = initial[i];
    total_ = 0;
}

void Sha256::Blocks(const uint8_t* blocks, size_t count)
{
#if SHA256_X86
    if (path_ == Path::ShaExtensions) {
        ShaExtensionBlocks(state_, blocks, count);
        return;
    }
#endif
    PortableBlocks(state_, blocks, count);
}

void Sha256::Add(const void* data, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>(total_ % 64);
    total_ += size;
    if (used > 0) {
        size_t take = 64 - used < size ? 64 - used : size;
        for (size_t i = 0; i < take; ++i)
            pending_[used + i] = bytes[i];
        bytes += take;
        size -= take;
        if (used + take < 64)
            return;
        Blocks(pending_, 1);
    }
    if (size >= 64)
        Blocks(bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
    for (size_t i = 0; i < size; ++i)
        pending_[i] = bytes[i];
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
