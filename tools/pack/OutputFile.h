// A file that appears under its final name only when it is complete: it is written to a
// temporary file in the same folder and renamed at Commit. Until then an existing file of
// the final name stays as it was, and a failed or abandoned write leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace pack {

class OutputFile {
public:
    explicit OutputFile(std::filesystem::path finalPath);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(std::string& error);
    bool Write(const uint8_t* data, size_t size);
    bool Commit(std::string& error);

private:
    void Discard();
    std::filesystem::path final_;
    std::filesystem::path temp_;
    std::ofstream out_;
    bool created_ = false;
};

}  // namespace pack
