// A growable array of plain records (trivially copyable, zero meaning empty) on the process
// heap. It does what std::vector would for the run's records with one small function shared by
// every record type, where each vector type would add its own copy of the growing code to an
// updater that must stay small.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

// Makes room for one more record of recordSize bytes when the array is full: the data, moved
// to a larger block. Ends the process, as any allocation of the program does, when memory ran
// out.
void* GrowRecordArray(void* data, size_t& capacity, size_t recordSize);

template <typename Record>
class RecordArray {
    static_assert(std::is_trivially_copyable<Record>::value, "records are moved as bytes");

public:
    RecordArray() = default;
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;
    ~RecordArray()
    {
        if (data_ != nullptr)
            HeapFree(GetProcessHeap(), 0, data_);
    }

    // A new record of zero bytes at the end. References to earlier records do not survive it.
    Record& Append()
    {
        if (size_ == capacity_)
            data_ = static_cast<Record*>(GrowRecordArray(data_, capacity_, sizeof(Record)));
        Record* record = data_ + size_++;
        std::memset(static_cast<void*>(record), 0, sizeof(Record));
        return *record;
    }

    void Clear() { size_ = 0; }
    size_t size() const { return size_; }
    Record& operator[](size_t i) { return data_[i]; }
    const Record& operator[](size_t i) const { return data_[i]; }
    Record* begin() { return data_; }
    Record* end() { return data_ + size_; }
    const Record* begin() const { return data_; }
    const Record* end() const { return data_ + size_; }

private:
    Record* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
