// Owners of one handle each, closed when the owner goes away: one move-only type per kind of
// handle, made from one template and the kind's traits (its "none" value and its close).
// Never converted to the raw handle implicitly. Used by whichever thread made it; no sharing.
#pragma once

#include <windows.h>

// Traits: using Handle = ...; static Handle None(); static bool Close(Handle) (false when the
// close failed).
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::None(); }

    // For an out-parameter: whatever was held is closed first, so a handle is never lost.
    Handle* put()
    {
        reset();
        return &handle_;
    }

    Handle release()
    {
        Handle handle = handle_;
        handle_ = Traits::None();
        return handle;
    }

    // Closes the handle it held, if any, and holds handle instead; false when that close
    // failed.
    bool reset(Handle handle = Traits::None())
    {
        Handle old = handle_;
        handle_ = handle;
        return old == Traits::None() || Traits::Close(old);
    }

private:
    Handle handle_ = Traits::None();
};

// Files, which CreateFileW answers with INVALID_HANDLE_VALUE when it fails.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

// Other kernel handles (tokens, events, threads), which are null when there is none.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// Searches of a folder (FindFirstFileW), which answer INVALID_HANDLE_VALUE when none began.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return FindClose(handle) != FALSE; }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

// COM interfaces, released when their owner goes away.
template <typename Interface>
struct ComTraits {
    using Handle = Interface*;
    static Handle None() { return nullptr; }
    static bool Close(Handle handle)
    {
        handle->Release();
        return true;
    }
};
template <typename Interface>
using ComPointer = UniqueHandle<ComTraits<Interface>>;
