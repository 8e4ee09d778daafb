// A move-only holder of one kernel file handle (INVALID_HANDLE_VALUE means none), closed
// when the holder goes away. Used by whichever thread made it; no sharing.
#pragma once

#include <windows.h>

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { reset(); }

    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : handle_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

    // For out-parameters: closes what it held first.
    HANDLE* put()
    {
        reset();
        return &handle_;
    }

    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

    // Closes the handle it held; false when that close failed.
    bool reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        bool closed = true;
        if (handle_ != INVALID_HANDLE_VALUE)
            closed = CloseHandle(handle_) != FALSE;
        handle_ = handle;
        return closed;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
