// The temporary file lives beside the final one so that the rename stays on one volume and
// replaces the final file in one step. On Linux the output is a plain descriptor so that
// appending a file can use copy_file_range, which copies inside the kernel as cat does; other
// systems stream through a buffer that stays in the processor's cache.
#include "OutputFile.h"

#include <algorithm>
#include <random>
#include <system_error>

#ifdef __linux__
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pack {

namespace {

constexpr size_t kCopyBuffer = 128 << 10;

}  // namespace

OutputFile::OutputFile(std::filesystem::path finalPath) : final_(std::move(finalPath)) {}

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::Discard()
{
    if (!created_)
        return;
    Close();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
    created_ = false;
}

bool OutputFile::AppendThroughBuffer(std::ifstream& in, uint64_t size)
{
    buffer_.resize(kCopyBuffer);
    for (uint64_t done = 0; done < size;) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size - done));
        in.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(take));
        if (static_cast<size_t>(in.gcount()) != take || !Write(buffer_.data(), take))
            return false;
        done += take;
    }
    return true;
}

#ifdef __linux__

bool OutputFile::Create(std::string& error)
{
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path candidate = final_;
        candidate += ".tmp" + std::to_string(random() % 1000000);
        // O_EXCL: never take over a file that someone else is writing.
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            break;
        fd_ = fd;
        temp_ = candidate;
        created_ = true;
        return true;
    }
    error = "cannot be created in its folder";
    return false;
}

void OutputFile::Close()
{
    if (fd_ >= 0 && ::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
}

bool OutputFile::Write(const uint8_t* data, size_t size)
{
    while (size > 0 && !failed_) {
        ssize_t written = ::write(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            failed_ = true;
            break;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return !failed_;
}

bool OutputFile::Flush()
{
    return !failed_;
}

bool OutputFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size)
{
    if (!failed_ && ::pwrite(fd_, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
        failed_ = true;
    return !failed_;
}

bool OutputFile::Append(const std::filesystem::path& source, uint64_t size)
{
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    uint64_t done = 0;
    while (done < size) {
        ssize_t copied = ::copy_file_range(in, nullptr, fd_, nullptr,
                                           static_cast<size_t>(std::min<uint64_t>(size - done, 1u << 30)), 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied <= 0)
            break;  // 0: the file is shorter; <0: not supported here, copy below
        done += static_cast<uint64_t>(copied);
    }
    ::close(in);
    if (done == size)
        return true;
    // Some file systems and older kernels refuse copy_file_range; go on from where it stopped.
    std::ifstream rest(source, std::ios::binary);
    rest.seekg(static_cast<std::streamoff>(done));
    return rest && AppendThroughBuffer(rest, size - done);
}

#else

bool OutputFile::Create(std::string& error)
{
    std::random_device random;
    std::error_code code;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path candidate = final_;
        candidate += ".tmp" + std::to_string(random() % 1000000);
        if (std::filesystem::exists(candidate, code))
            continue;
        out_.open(candidate, std::ios::binary | std::ios::trunc);
        if (!out_)
            break;
        temp_ = candidate;
        created_ = true;
        return true;
    }
    error = "cannot be created in its folder";
    return false;
}

void OutputFile::Close()
{
    if (!out_.is_open())
        return;
    out_.close();
    if (out_.fail())
        failed_ = true;
}

bool OutputFile::Write(const uint8_t* data, size_t size)
{
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out_)
        failed_ = true;
    return !failed_;
}

bool OutputFile::Flush()
{
    out_.flush();
    if (!out_)
        failed_ = true;
    return !failed_;
}

bool OutputFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size)
{
    out_.seekp(static_cast<std::streamoff>(offset));
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out_.seekp(0, std::ios::end);
    if (!out_)
        failed_ = true;
    return !failed_;
}

bool OutputFile::Append(const std::filesystem::path& source, uint64_t size)
{
    std::ifstream in(source, std::ios::binary);
    return in && AppendThroughBuffer(in, size);
}

#endif

bool OutputFile::Commit(std::string& error)
{
    Close();
    if (failed_) {
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
