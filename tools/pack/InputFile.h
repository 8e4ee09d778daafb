// Random-access reading of an input: a file on disk, or bytes in memory (tests and the
// fuzzer run the same parsers on buffers). Reads beyond the end fail instead of returning
// short, so every parser sees exactly the bytes it asked for or nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace pack {

class InputFile {
public:
    InputFile() = default;
    InputFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with a reason when the path is missing, a folder, or cannot be opened for reading.
    bool Open(const std::filesystem::path& path, std::string& error);

    uint64_t Size() const { return size_; }
    bool Read(uint64_t offset, uint8_t* out, size_t count);

private:
    std::ifstream file_;
    bool isFile_ = false;
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = 0;  // where the file stands, to skip seeks while streaming
};

}  // namespace pack
