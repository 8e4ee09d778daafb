// Inputs through std::ifstream, which takes wide paths on Windows and needs no platform API.
#include "InputFile.h"

#include <cstring>
#include <system_error>

namespace pack {

bool InputFile::Open(const std::filesystem::path& path, std::string& error)
{
    std::error_code code;
    auto status = std::filesystem::status(path, code);
    if (code || !std::filesystem::exists(status)) {
        error = "cannot be read: no such file";
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        error = "cannot be read: it is a folder";
        return false;
    }
    uint64_t size = std::filesystem::file_size(path, code);
    if (code) {
        error = "cannot be read: " + code.message();
        return false;
    }
    file_.open(path, std::ios::binary);
    if (!file_) {
        error = "cannot be read: opening it failed";
        return false;
    }
    isFile_ = true;
    size_ = size;
    position_ = 0;
    return true;
}

bool InputFile::Read(uint64_t offset, uint8_t* out, size_t count)
{
    if (offset > size_ || count > size_ - offset)
        return false;
    if (count == 0)
        return true;
    if (!isFile_) {
        std::memcpy(out, data_ + offset, count);
        return true;
    }
    if (offset != position_) {
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        if (!file_)
            return false;
    }
    file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    if (static_cast<size_t>(file_.gcount()) != count) {
        position_ = UINT64_MAX;
        file_.clear();
        return false;
    }
    position_ = offset + count;
    return true;
}

}  // namespace pack
