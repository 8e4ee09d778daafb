// Reading the sequence-table rows of a patch's transforms, whose layout TransformFormat.h
// describes (the updater reads them by the same description); strings are ids into the
// transform's own string pool.
#include "RestartActions.h"

#include "MsiStreamName.h"
#include "TransformFormat.h"

namespace pack {

namespace {

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
    if (entry->size > compound::kMaxTransformStreamSize) {
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
    if (pool.size() < compound::kStringPoolHeaderSize || pool.size() % 4 != 0) {
        error = "its string pool is " + std::to_string(pool.size()) + " bytes, not a header and whole entries";
        return false;
    }
    strings.referenceWidth = compound::StringReferenceWidth(pool.data());
    size_t dataOffset = 0;
    for (size_t at = compound::kStringPoolHeaderSize; at < pool.size();) {
        uint32_t length = 0;
        if (!compound::NextPoolString(pool.data(), pool.size(), at, length)) {
            error = "its string pool ends inside a long string's entry";
            return false;
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
    size_t at = 0;
    while (at < rows.size()) {
        if (rows.size() - at < 2) {
            error = table + " ends inside a row's mask";
            return false;
        }
        uint32_t mask = compound::LittleEndian(rows.data() + at, 2);
        size_t size = compound::SequenceRowSize(mask, w);
        if (size == 0) {
            error = table + " has a row of " + std::to_string(mask >> 8) + " columns; the table has " +
                    std::to_string(compound::kSequenceColumnCount);
            return false;
        }
        if (rows.size() - at < size) {
            error = table + " ends inside a row";
            return false;
        }
        uint32_t id = compound::LittleEndian(rows.data() + at + 2, w);
        if (id > pool.strings.size()) {
            error = table + " refers to string " + std::to_string(id) + " of " + std::to_string(pool.strings.size());
            return false;
        }
        if (mask != 0 && id != 0) {
            const std::string& action = pool.strings[id - 1];
            if (compound::IsRestartAction(action.data(), action.size()))
                found.push_back(RestartAction{transform, table, action});
        }
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
    for (const char* table : compound::kSequenceTables) {
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
