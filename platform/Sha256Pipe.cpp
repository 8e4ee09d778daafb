// The hashing thread and its hand-over. The two threads meet through two counters of buffers,
// queued and hashed, so that a buffer passes without a call into the system: under Wine every
// event or lock operation is a round trip to the server, which for each 32 KiB buffer would
// cost more than the hashing saves. Only a hashing thread that has found nothing to do for a
// while goes to sleep on an event, and the copier wakes it.
#include "Sha256Pipe.h"

namespace {

// Rounds of waiting before the hashing thread sleeps, or the copier lets others run: a few
// times the hashing of one buffer.
const int spinRounds = 4096;

void Pause()
{
    YieldProcessor();
}

}  // namespace

Sha256Pipe::~Sha256Pipe()
{
    // The thread is stopped before its event and buffers go.
    if (thread_) {
        stopping_.store(true);
        SetEvent(wake_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    wake_.reset();
    if (slots_ != nullptr)
        HeapFree(GetProcessHeap(), 0, slots_);
}

bool Sha256Pipe::Start()
{
    started_ = true;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (system.dwNumberOfProcessors < 2)
        return false;
    slots_ = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, SlotCount * BufferSize));
    wake_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (slots_ != nullptr && wake_)
        thread_.reset(CreateThread(nullptr, 0, HashingThread, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

uint8_t* Sha256Pipe::Buffer(uint8_t* own)
{
    if (!started_)
        Start();
    if (!thread_)
        return own;
    uint32_t queued = queued_.load(std::memory_order_relaxed);
    // Every slot is queued: the hashing thread is at work on them.
    for (int round = 0; queued - hashed_.load(std::memory_order_acquire) == SlotCount; ++round) {
        if (round < spinRounds)
            Pause();
        else
            SwitchToThread();
    }
    return slots_ + (queued % SlotCount) * BufferSize;
}

void Sha256Pipe::Add(const void* data, size_t size)
{
    uint32_t queued = queued_.load(std::memory_order_relaxed);
    if (!thread_ || data != slots_ + (queued % SlotCount) * BufferSize || size > BufferSize) {
        Drain();
        hash_.Add(data, size);
        return;
    }
    sizes_[queued % SlotCount] = static_cast<uint32_t>(size);
    // Sequentially consistent, as is the hashing thread's note that it sleeps: one of the two
    // sees the other's store, so a queued buffer never waits for a thread that sleeps.
    queued_.store(queued + 1);
    if (sleeping_.load())
        SetEvent(wake_.get());
}

void Sha256Pipe::Drain()
{
    uint32_t queued = queued_.load(std::memory_order_relaxed);
    for (int round = 0; hashed_.load(std::memory_order_acquire) != queued; ++round) {
        if (round < spinRounds)
            Pause();
        else
            SwitchToThread();
    }
}

void Sha256Pipe::Finish(uint8_t (&digest)[32])
{
    Drain();
    hash_.Finish(digest);
}

void Sha256Pipe::Reset()
{
    Drain();
    hash_.Reset();
}

DWORD WINAPI Sha256Pipe::HashingThread(void* parameter)
{
    static_cast<Sha256Pipe*>(parameter)->HashSlots();
    return 0;
}

void Sha256Pipe::HashSlots()
{
    for (;;) {
        uint32_t hashed = hashed_.load(std::memory_order_relaxed);
        int round = 0;
        while (queued_.load(std::memory_order_acquire) == hashed && !stopping_.load()) {
            if (++round < spinRounds) {
                Pause();
                continue;
            }
            sleeping_.store(true);
            if (queued_.load() == hashed && !stopping_.load())
                WaitForSingleObject(wake_.get(), INFINITE);
            sleeping_.store(false);
            round = 0;
        }
        if (queued_.load(std::memory_order_acquire) == hashed)
            return;  // stopping, with nothing left
        hash_.Add(slots_ + (hashed % SlotCount) * BufferSize, sizes_[hashed % SlotCount]);
        hashed_.store(hashed + 1, std::memory_order_release);
    }
}
