// Reading the headers of a Windows PE image from the bytes at the start of its file: whether it
// is a 32-bit (PE32) or 64-bit (PE32+) image, where the updater believes its payload begins, where
// its certificate table lies, where the fields that signing and checksumming skip are, and its
// section table. The payload offset is computed exactly as the updater computes it at run time,
// including its fixed section-table position, from the same facts (PayloadLayout.h), so that
// the packer and the updater always agree on it. The rest of the packer takes its header facts
// from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

enum class PeMachine { X86, X64 };

// One IMAGE_SECTION_HEADER, as far as mapping addresses to the file needs it.
struct PeSection {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawPointer = 0;  // PointerToRawData
    uint32_t rawSize = 0;     // SizeOfRawData
};

struct PeInfo {
    uint32_t ntOffset = 0;                    // e_lfanew
    PeMachine machine = PeMachine::X86;       // PE32 or PE32+
    uint32_t payloadOffset = 0;               // P: end of the raw data lying furthest into the file
    uint32_t lastSection = 0;                 // index of the section that decides P
    uint64_t checksumOffset = 0;              // file offset of the optional header's CheckSum field
    uint64_t certificateDirectoryOffset = 0;  // file offset of data directory 4's 8-byte entry
    uint32_t certificateOffset = 0;           // security directory: a file offset, 0 when unsigned
    uint32_t certificateSize = 0;
    uint32_t resourceRva = 0;         // resource directory (data directory 2), 0 when none
    std::vector<PeSection> sections;  // the section table in file order
};

// The file offset of `size` bytes at `rva`: the first section whose raw data hold all of them
// decides. False when none does (bytes the loader would zero-fill count as outside).
bool RvaToFileOffset(const PeInfo& pe, uint64_t rva, uint64_t size, uint64_t& offset);

// How many bytes from the file's start hold everything ParsePeHeaders reads, as far as the
// first `size` bytes tell. Lets a caller read the headers of a large file in small steps.
uint64_t PeHeaderSpan(const uint8_t* data, size_t size);

// Parses the headers in the first `size` bytes of a file. False with a one-line reason (no
// trailing full stop, no file name) when the bytes are not a PE32 or PE32+ image the updater
// can run from, or when P would not fit the updater's signed 32-bit seek.
bool ParsePeHeaders(const uint8_t* data, size_t size, PeInfo& info, std::string& error);

// "x86" or "x64", as reports name the machine.
const char* MachineName(PeMachine machine);

}  // namespace pack

namespace pack {

class InputFile;

// Reads and parses the headers of a file, however far into it they reach.
bool ReadPeHeaders(InputFile& input, PeInfo& info, std::string& error);

}  // namespace pack
