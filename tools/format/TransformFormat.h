// What Windows Installer's databases and transforms hold where the packer and the updater both
// look: how a table's stream is named, how a transform's string pool and its sequence tables'
// rows are laid out, and which actions restart Windows. The packer reads transforms through its
// own compound-file reader, the updater through Windows' structured storage; both take these
// facts from here. Portable C++17 without allocation or platform calls. Wine's dlls/msi/table.c
// and string.c read the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace compound {

// Stream names: a table's stream starts with 0x4840, and the characters of this alphabet are
// packed two to a UTF-16 unit (0x3800 + (second << 6) + first) or one (0x4800 + value); other
// characters are kept as they are.
constexpr char kStreamNameAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
constexpr uint16_t kTableStreamPrefix = 0x4840;

constexpr int StreamNameValue(char c)
{
    for (int i = 0; i < 64; i++) {
        if (kStreamNameAlphabet[i] == c)
            return i;
    }
    return -1;
}

// Writes the stored name of the stream called name into out, terminated, in units of Unit
// (char16_t, or wchar_t where it is 16 bits wide). Its length, or 0 when capacity is too small.
template <typename Unit>
size_t EncodeStreamName(const char* name, bool table, Unit* out, size_t capacity)
{
    size_t length = 0;
    auto put = [&](uint16_t unit) {
        if (length + 1 < capacity)
            out[length] = static_cast<Unit>(unit);
        ++length;
    };
    if (table)
        put(kTableStreamPrefix);
    for (size_t i = 0; name[i] != '\0'; i++) {
        int first = StreamNameValue(name[i]);
        if (first < 0) {
            put(static_cast<unsigned char>(name[i]));
            continue;
        }
        int second = name[i + 1] != '\0' ? StreamNameValue(name[i + 1]) : -1;
        if (second < 0) {
            put(static_cast<uint16_t>(0x4800 + first));
        } else {
            put(static_cast<uint16_t>(0x3800 + (second << 6) + first));
            i++;
        }
    }
    if (length + 1 > capacity)
        return 0;
    out[length] = Unit(0);
    return length;
}

// The tables whose rows run actions, which a transform may change.
constexpr const char* kSequenceTables[] = {"InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
                                           "AdminUISequence", "AdvtExecuteSequence"};
constexpr size_t kSequenceTableCount = sizeof kSequenceTables / sizeof kSequenceTables[0];

// The actions that restart Windows; Windows Installer stops and rolls back a package that runs
// one inside a transaction of several packages.
inline bool IsRestartAction(const char* name, size_t length)
{
    return (length == 11 && std::memcmp(name, "ForceReboot", 11) == 0) ||
           (length == 14 && std::memcmp(name, "ScheduleReboot", 14) == 0);
}

// A transform's streams are read only up to this size: its pool and tables stay far below it,
// so a stream that claims more is damaged.
constexpr uint64_t kMaxTransformStreamSize = 16u << 20;

// width bytes at at, little-endian.
inline uint32_t LittleEndian(const uint8_t* at, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= uint32_t(at[i]) << (8 * i);
    return value;
}

// A transform's _StringPool: a 4-byte header (its high word's bit 15: references to strings
// take 3 bytes instead of 2), then one 4-byte entry per string id from 1 (length, reference
// count, 16 bits each); an entry of length 0 with references is a string of 64 KiB or more,
// whose length is the next entry, low word first. The strings themselves follow one another in
// _StringData, in the pool's code page, without terminators.
constexpr size_t kStringPoolHeaderSize = 4;

inline size_t StringReferenceWidth(const uint8_t* poolHeader)
{
    return (LittleEndian(poolHeader + 2, 2) & 0x8000) ? 3 : 2;
}

// Reads the pool entry at at (a multiple of 4, below size): the string's length, with at moved
// to the next entry. False when the pool ends inside a long string's entry.
inline bool NextPoolString(const uint8_t* pool, size_t size, size_t& at, uint32_t& length)
{
    length = LittleEndian(pool + at, 2);
    uint32_t references = LittleEndian(pool + at + 2, 2);
    at += 4;
    if (length != 0 || references == 0)
        return true;
    if (size - at < 4)
        return false;
    length = LittleEndian(pool + at, 2) | (LittleEndian(pool + at + 2, 2) << 16);
    at += 4;
    return true;
}

// Rows of a sequence table's stream in a transform follow one another, each led by a 16-bit
// mask: with its low bit set, a whole row (inserted, or replacing the row of its key) whose
// column count is in the high byte; otherwise the key and each column whose bit is set (mask 0
// deletes a row). The columns are Action (the key, a string), Condition (a string) and Sequence
// (a 2-byte integer); the Action is the first value after the mask. The row's size with its
// mask, or 0 when the mask names more columns than the table has.
constexpr size_t kSequenceColumnCount = 3;

inline size_t SequenceRowSize(uint32_t mask, size_t referenceWidth)
{
    const size_t widths[kSequenceColumnCount] = {referenceWidth, referenceWidth, 2};
    size_t size = 2;
    if (mask & 1) {
        size_t count = mask >> 8;
        if (count == 0 || count > kSequenceColumnCount)
            return 0;
        for (size_t i = 0; i < count; ++i)
            size += widths[i];
        return size;
    }
    for (size_t i = 0; i < kSequenceColumnCount; ++i) {
        if (i == 0 || (mask & (1u << i)))
            size += widths[i];
    }
    return size;
}

}  // namespace compound
