// The temporary file lives beside the final one so that the rename stays on one volume and
// replaces the final file in one step.
#include "OutputFile.h"

#include <random>
#include <system_error>

namespace pack {

OutputFile::OutputFile(std::filesystem::path finalPath) : final_(std::move(finalPath)) {}

OutputFile::~OutputFile() {
    Discard();
}

void OutputFile::Discard() {
    if (!created_) return;
    out_.close();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
    created_ = false;
}

bool OutputFile::Create(std::string& error) {
    std::random_device random;
    std::error_code code;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path candidate = final_;
        candidate += ".tmp" + std::to_string(random() % 1000000);
        if (std::filesystem::exists(candidate, code)) continue;
        out_.open(candidate, std::ios::binary | std::ios::trunc);
        if (!out_) break;
        temp_ = candidate;
        created_ = true;
        return true;
    }
    error = "cannot be created in its folder";
    return false;
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out_);
}

bool OutputFile::Commit(std::string& error) {
    out_.close();
    if (out_.fail()) {
        error = "writing it failed (is the disk full?)";
        Discard();
        return false;
    }
    std::error_code code;
    std::filesystem::rename(temp_, final_, code);
    if (code) {
        error = "cannot be replaced: " + code.message();
        Discard();
        return false;
    }
    created_ = false;
    return true;
}

}  // namespace pack
