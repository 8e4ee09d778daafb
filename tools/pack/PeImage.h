// Reading the headers of a Windows PE image from the bytes at the start of its file: whether it
// is a 32-bit (PE32) or 64-bit (PE32+) image, where the updater believes its payload begins, and where its
// certificate table lies. The payload offset is computed exactly as the updater computes it
// at run time, including its fixed section-table position, so that the packer and the
// updater always agree on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pack {

// The updater takes the section table from a fixed distance behind the NT headers: the size of
// its own flavour's NT headers (signature, file header, and a 224-byte PE32 or a 240-byte
// PE32+ optional header).
constexpr uint32_t kPe32NtHeadersSize = 248;
constexpr uint32_t kPe32PlusNtHeadersSize = 264;
constexpr uint32_t kSectionHeaderSize = 40;

enum class PeMachine { X86, X64 };

struct PeInfo {
    uint32_t ntOffset = 0;          // e_lfanew
    PeMachine machine = PeMachine::X86;  // PE32 or PE32+
    uint16_t sectionCount = 0;
    uint32_t payloadOffset = 0;     // P: end of the raw data lying furthest into the file
    uint32_t lastSection = 0;       // index of the section that decides P
    uint32_t certificateOffset = 0; // security directory: a file offset, 0 when unsigned
    uint32_t certificateSize = 0;
};

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
