// Reading the sequence-table rows of a patch's transforms. Each row is led by a 16-bit mask,
// described where ScanSequenceTable walks them; strings are ids into the transform's own
// string pool, whose 4-byte entries (length, reference count) follow a 4-byte header. Wine's
// dlls/msi/table.c and string.c read transforms and string pools the same way.
#include "RestartActions.h"

#include "MsiStreamName.h"

namespace pack {

namespace {

// A transform's pool and tables stay far below this; a stream claiming more is damaged and
// is not read into memory.
constexpr uint64_t kMaxStreamSize = 16u << 20;

const char* const kSequenceTables[] = {"InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
                                       "AdminUISequence", "AdvtExecuteSequence"};

bool IsRestartAction(const std::string& action)
{
    return action == "ForceReboot" || action == "ScheduleReboot";
}

uint32_t Little(const compound::Bytes& bytes, size_t at, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= uint32_t(bytes[at + i]) << (8 * i);
    return value;
}

// A transform's strings by id (id 1 is strings[0]) and the width of a reference to one.
struct StringPool {
    std::vector<std::string> strings;
    size_t referenceWidth = 2;
};

bool ReadStream(const compound::Reader& reader, const compound::Entry& storage, const std::string& name, bool& present,
                compound::Bytes& out, std::string& error)
{
    const compound::Entry* entry = reader.Find(storage, compound::EncodeMsiStreamName(name, true));
    present = entry != nullptr && entry->type == compound::EntryType::Stream;
    if (!present)
        return true;
    if (entry->size > kMaxStreamSize) {
        error = name + " holds " + std::to_string(entry->size) + " bytes, far more than a transform needs";
        return false;
    }
    std::string reason;
    if (!reader.ReadStream(*entry, out, &reason)) {
        error = name + " cannot be read: " + reason;
        return false;
    }
    return true;
}

bool ReadStringPool(const compound::Bytes& pool, const compound::Bytes& data, StringPool& strings, std::string& error)
{
    if (pool.size() < 4 || pool.size() % 4 != 0) {
        error = "its string pool is " + std::to_string(pool.size()) + " bytes, not a header and whole entries";
        return false;
    }
    // Bit 15 of the header's high word: references to strings take 3 bytes instead of 2.
    strings.referenceWidth = (Little(pool, 2, 2) & 0x8000) ? 3 : 2;
    size_t dataOffset = 0;
    for (size_t at = 4; at < pool.size(); at += 4) {
        uint32_t length = Little(pool, at, 2);
        uint32_t references = Little(pool, at + 2, 2);
        if (length == 0 && references != 0) {
            // A string of 64 KiB or more: its length is the next entry, low word first.
            at += 4;
            if (at >= pool.size()) {
                error = "its string pool ends inside a long string's entry";
                return false;
            }
            length = Little(pool, at, 2) | (Little(pool, at + 2, 2) << 16);
        }
        if (length > data.size() - dataOffset) {
            error = "its string pool names more string data than there is";
            return false;
        }
        strings.strings.emplace_back(reinterpret_cast<const char*>(data.data()) + dataOffset, length);
        dataOffset += length;
    }
    return true;
}

// Walks the rows of one sequence table's stream and adds those whose action restarts.
bool ScanSequenceTable(const compound::Bytes& rows, const StringPool& pool, const std::string& transform,
                       const std::string& table, std::vector<RestartAction>& found, std::string& error)
{
    const size_t w = pool.referenceWidth;
    const size_t widths[] = {w, w, 2};  // Action, Condition, Sequence
    const size_t columns = sizeof widths / sizeof widths[0];
    size_t at = 0;
    while (at < rows.size()) {
        if (rows.size() - at < 2) {
            error = table + " ends inside a row's mask";
            return false;
        }
        uint32_t mask = Little(rows, at, 2);
        size_t size = 2;
        if (mask & 1) {
            // A whole row (inserted, or replacing the row with its key): the column count is
            // in the high byte.
            size_t count = mask >> 8;
            if (count == 0 || count > columns) {
                error = table + " has a row of " + std::to_string(count) + " columns; the table has " +
                        std::to_string(columns);
                return false;
            }
            for (size_t i = 0; i < count; ++i)
                size += widths[i];
        } else {
            // The key, always present, and each column whose bit is set; mask 0 deletes a row.
            for (size_t i = 0; i < columns; ++i)
                if (i == 0 || (mask & (1u << i)))
                    size += widths[i];
        }
        if (rows.size() - at < size) {
            error = table + " ends inside a row";
            return false;
        }
        uint32_t id = Little(rows, at + 2, w);
        if (id > pool.strings.size()) {
            error = table + " refers to string " + std::to_string(id) + " of " + std::to_string(pool.strings.size());
            return false;
        }
        if (mask != 0 && id != 0 && IsRestartAction(pool.strings[id - 1]))
            found.push_back(RestartAction{transform, table, pool.strings[id - 1]});
        at += size;
    }
    return true;
}

bool ScanTransform(const compound::Reader& reader, const compound::Entry& storage, std::vector<RestartAction>& found,
                   std::string& error)
{
    std::string name = compound::DecodeMsiStreamName(storage.name);
    std::string which = "transform " + name + ": ";
    std::vector<std::pair<std::string, compound::Bytes>> tables;
    for (const char* table : kSequenceTables) {
        bool present = false;
        compound::Bytes rows;
        if (!ReadStream(reader, storage, table, present, rows, error)) {
            error = which + error;
            return false;
        }
        if (present)
            tables.emplace_back(table, std::move(rows));
    }
    if (tables.empty())
        return true;

    bool hasPool = false, hasData = false;
    compound::Bytes poolBytes, dataBytes;
    if (!ReadStream(reader, storage, "_StringPool", hasPool, poolBytes, error) ||
        !ReadStream(reader, storage, "_StringData", hasData, dataBytes, error)) {
        error = which + error;
        return false;
    }
    if (!hasPool || !hasData) {
        error = which + "it changes a sequence table but has no string pool";
        return false;
    }
    StringPool pool;
    if (!ReadStringPool(poolBytes, dataBytes, pool, error)) {
        error = which + error;
        return false;
    }
    for (const auto& table : tables) {
        if (!ScanSequenceTable(table.second, pool, name, table.first, found, error)) {
            error = which + error;
            return false;
        }
    }
    return true;
}

}  // namespace

std::string DescribeRestartAction(const RestartAction& action)
{
    return action.action + " in " + action.table + " (transform " + action.transform + ")";
}

bool FindRestartActions(const compound::Reader& patch, std::vector<RestartAction>& found, std::string& error)
{
    for (const compound::Entry* child : patch.Children(patch.Root())) {
        if (child->type != compound::EntryType::Storage)
            continue;
        if (!ScanTransform(patch, *child, found, error))
            return false;
    }
    return true;
}

}  // namespace pack
