// A file that appears under its final name only when it is complete: it is written to a
// temporary file in the same folder and renamed at Commit. Until then an existing file of
// the final name stays as it was, and a failed or abandoned write leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pack {

class OutputFile {
public:
    explicit OutputFile(std::filesystem::path finalPath);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(std::string& error);
    bool Write(const uint8_t* data, size_t size);
    // Appends the first `size` bytes of another file; false when it cannot be read or holds
    // fewer bytes, or when writing fails.
    bool Append(const std::filesystem::path& source, uint64_t size);
    // Everything written so far, on disk under a temporary name until Commit, so that it can
    // be read back.
    bool Flush();
    const std::filesystem::path& TemporaryPath() const { return temp_; }
    // Replaces bytes already written.
    bool WriteAt(uint64_t offset, const uint8_t* data, size_t size);
    bool Commit(std::string& error);

private:
    void Close();
    void Discard();
    bool AppendThroughBuffer(std::ifstream& in, uint64_t size);

    std::filesystem::path final_;
    std::filesystem::path temp_;
    bool created_ = false;
    bool failed_ = false;
    std::vector<uint8_t> buffer_;
#ifdef __linux__
    int fd_ = -1;
#else
    std::ofstream out_;
#endif
};

}  // namespace pack
