// Inputs for the packer's tests, made in memory: a minimal PE32 image whose last section's
// raw data end where the test wants, a patch-like compound file with a chosen target list,
// and a scratch folder that is removed afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace packtest {

using Bytes = std::vector<uint8_t>;

struct Section {
    uint32_t pointer;
    uint32_t size;
};

// A PE32 image with the given sections; the file ends at the end of the furthest section's
// raw data, which is also its payload offset. Optional header magic and size can be changed
// to make broken stubs.
Bytes MakeImage(const std::vector<Section>& sections, uint16_t magic = 0x10B, uint16_t optionalSize = 224);
Bytes MakeImage(uint32_t payloadOffset);
// The same as a PE32+ (x64) image: the section table 264 bytes behind the NT headers.
Bytes MakeImage64(const std::vector<Section>& sections);

// A compound file with the patch class id and summary information whose PID_TEMPLATE is
// `targets` and whose PID_REVNUMBER, when not empty, is `revisionNumber`; `filler` bytes of
// an extra stream make it larger.
Bytes MakePatch(const std::string& targets, size_t filler = 0, const std::string& revisionNumber = "");

// A transform substorage of a patch: its string pool holds `strings` (ids from 1, 3-byte
// references when `longReferences`), and `table`'s stream holds `rows` as given.
struct TestTransform {
    std::string name;
    std::vector<std::string> strings;
    std::string table;
    Bytes rows;
    bool longReferences = false;
};
Bytes MakePatch(const std::string& targets, const std::vector<TestTransform>& transforms);

// A transform row: the 16-bit mask, then each field as {value, width in bytes}.
Bytes TransformRow(uint16_t mask, const std::vector<std::pair<uint32_t, size_t>>& fields);

// File offset of the security directory entry of an image made by MakeImage.
constexpr size_t kSecurityDirectory = 0x40 + 24 + 128;
constexpr size_t kSecurityDirectory64 = 0x40 + 24 + 144;

void PutU32At(Bytes& bytes, size_t offset, uint32_t value);

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::filesystem::path& Path() const { return path_; }
    std::string Write(const std::string& name, const Bytes& bytes) const;  // returns the path
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Names() const;  // what the folder holds, sorted

private:
    std::filesystem::path path_;
};

Bytes ReadAll(const std::string& path);

}  // namespace packtest
