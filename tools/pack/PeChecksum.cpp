// The words are summed four bytes at a time into 64 bits and folded once at the end. That is
// the same number as the word-by-word sum with end-around carry: 0x10000 is 1 modulo 0xFFFF,
// so a 32-bit word counts as its two halves, and both sums are 0 only when every word is 0
// and otherwise the one value from 1 to 0xFFFF of their class modulo 0xFFFF.
#include "PeChecksum.h"

#include "ByteOrder.h"

#include <algorithm>
#include <vector>

namespace pack {

namespace {

constexpr size_t kPiece = 1 << 20;

}  // namespace

bool ComputePeChecksum(InputFile& input, uint64_t checksumOffset, uint32_t& checksum)
{
    std::vector<uint8_t> buffer(kPiece + 4);
    uint64_t sum = 0;
    for (uint64_t offset = 0; offset < input.Size(); offset += kPiece) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(kPiece, input.Size() - offset));
        if (!input.Read(offset, buffer.data(), size))
            return false;
        for (uint64_t at = checksumOffset; at < checksumOffset + 4; ++at) {
            if (at >= offset && at < offset + size)
                buffer[static_cast<size_t>(at - offset)] = 0;
        }
        // Pieces start at multiples of four; the last one is padded with zeros.
        for (size_t i = size; i % 4 != 0; ++i)
            buffer[i] = 0;
        for (size_t i = 0; i < size; i += 4)
            sum += GetU32(buffer.data() + i);
    }
    uint32_t folded = sum == 0 ? 0 : static_cast<uint32_t>(sum % 0xFFFF);
    if (sum != 0 && folded == 0)
        folded = 0xFFFF;
    checksum = static_cast<uint32_t>(folded + input.Size());
    return true;
}

}  // namespace pack
