// SHA-256 of data that is copied through buffers, computed on a second thread while the next
// buffers are read and written, so that a copy with a digest takes about as long as the slower
// of the two rather than both added up. The copying thread takes each buffer from the pipe,
// fills it and hands it back; the hashing thread hashes the buffers in order. Where there is
// no second processor, or the thread cannot be started, the copy hashes its own buffer in line.
// Only one thread copies; the hashing thread is started at the first buffer and sleeps when
// there is nothing to hash. Owns the buffers and the thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Sha256.h"
#include "UniqueHandle.h"

class Sha256Pipe {
public:
    static const size_t BufferSize = 0x8000;

    Sha256Pipe() = default;
    Sha256Pipe(const Sha256Pipe&) = delete;
    Sha256Pipe& operator=(const Sha256Pipe&) = delete;
    ~Sha256Pipe();

    // A buffer of BufferSize bytes to copy through: one of the pipe's, or own where the
    // pipe hashes in line. The same buffer comes back until it is handed to Add.
    uint8_t* Buffer(uint8_t* own);
    // Adds the first size bytes of data to the digest: a buffer that Buffer gave is hashed on
    // the second thread, any other data in line.
    void Add(const void* data, size_t size);
    // Writes the digest of everything added since the last Finish or Reset, and starts over.
    void Finish(uint8_t (&digest)[32]);
    void Reset();

private:
    static const uint32_t SlotCount = 8;

    bool Start();
    void Drain();
    static DWORD WINAPI HashingThread(void* parameter);
    void HashSlots();

    Sha256 hash_;               // the hashing thread's while anything is queued, the copier's when drained
    uint8_t* slots_ = nullptr;  // SlotCount buffers
    uint32_t sizes_[SlotCount] = {};
    std::atomic<uint32_t> queued_{0};  // buffers handed over, written by the copier
    std::atomic<uint32_t> hashed_{0};  // buffers hashed, written by the hashing thread
    std::atomic<bool> sleeping_{false};
    std::atomic<bool> stopping_{false};
    KernelHandle wake_;
    KernelHandle thread_;
    bool started_ = false;  // Start was tried: thread_ tells whether it succeeded
};
