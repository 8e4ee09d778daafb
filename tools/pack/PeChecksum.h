// The PE checksum, the optional header's CheckSum field: the whole file read as little-endian
// 16-bit words (an odd last byte padded with zero), the field itself counted as zero, summed
// with end-around carry, plus the file's length. Windows checks it only for drivers and some
// system DLLs, but image tools report a wrong one, and a packed file keeps none of its stub's.
#pragma once

#include "InputFile.h"

#include <cstdint>

namespace pack {

// Reads the whole input once, in pieces. False when it cannot be read.
bool ComputePeChecksum(InputFile& input, uint64_t checksumOffset, uint32_t& checksum);

}  // namespace pack
