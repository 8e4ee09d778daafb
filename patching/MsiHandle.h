// Owner of one Windows Installer handle, closed with MsiCloseHandle when the owner goes
// away. 0 means no handle. Move-only; used by one thread at a time.
#pragma once

#include <windows.h>

#include <msi.h>

class MsiHandle {
public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE handle) : handle_(handle) {}
    ~MsiHandle() { reset(); }

    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;

    MsiHandle(MsiHandle&& other) noexcept : handle_(other.release()) {}
    MsiHandle& operator=(MsiHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    MSIHANDLE get() const { return handle_; }

    // For an out-parameter: whatever was held is closed first, so a handle is never lost.
    MSIHANDLE* put()
    {
        reset();
        return &handle_;
    }

    MSIHANDLE release()
    {
        MSIHANDLE handle = handle_;
        handle_ = 0;
        return handle;
    }

    void reset(MSIHANDLE handle = 0)
    {
        MSIHANDLE old = handle_;
        handle_ = handle;
        if (old != 0)
            MsiCloseHandle(old);
    }

    explicit operator bool() const { return handle_ != 0; }

private:
    MSIHANDLE handle_ = 0;
};
