// Decoding a Windows Installer database. Table streams hold each column's values for all rows
// one after another; integers are stored with their sign bit flipped (value + 0x8000 in two
// bytes, value ^ 0x80000000 in four) so that 0 can mean NULL; strings are ids into the pool.
#include "MsiDatabase.h"

#include "MsiStreamName.h"
#include "PropertySet.h"

#include <algorithm>

namespace mkpatch {

namespace {

bool Fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

uint32_t GetLE(const compound::Bytes& b, size_t at, uint32_t width)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; i++)
        v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

}  // namespace

int Table::ColumnIndex(const std::string& column) const
{
    for (size_t i = 0; i < columns.size(); i++)
        if (columns[i].name == column)
            return int(i);
    return -1;
}

bool MsiDatabase::Open(compound::Bytes bytes, std::string* error)
{
    std::string reason;
    if (!reader_.Open(std::move(bytes), &reason))
        return Fail(error, "not a Windows Installer package: " + reason);
    if (!LoadStrings(error) || !LoadSchema(error))
        return false;
    const compound::Entry* info = reader_.Find(reader_.Root(), u"\x0005SummaryInformation");
    compound::Bytes stream;
    if (!info || !reader_.ReadStream(*info, stream, &reason) ||
        !compound::ReadStringProperty(stream, compound::PID_TEMPLATE, template_, &reason))
        return Fail(error, "not a Windows Installer package: no template in its summary information");
    return true;
}

bool MsiDatabase::ReadStream(const std::string& table, compound::Bytes& out) const
{
    out.clear();
    const compound::Entry* entry = reader_.Find(reader_.Root(), compound::EncodeMsiStreamName(table, true));
    if (!entry)
        return true;  // a table without rows may have no stream
    return reader_.ReadStream(*entry, out, nullptr);
}

bool MsiDatabase::LoadStrings(std::string* error)
{
    const compound::Entry* pool = reader_.Find(reader_.Root(), compound::EncodeMsiStreamName("_StringPool", true));
    const compound::Entry* data = reader_.Find(reader_.Root(), compound::EncodeMsiStreamName("_StringData", true));
    compound::Bytes poolBytes, dataBytes;
    if (!pool || !data || !reader_.ReadStream(*pool, poolBytes, nullptr) ||
        !reader_.ReadStream(*data, dataBytes, nullptr) || poolBytes.size() < 4)
        return Fail(error, "not a Windows Installer package: no string pool");
    uint32_t header = GetLE(poolBytes, 0, 4);
    codepage_ = header & 0x7FFFFFFF;
    stringRefBytes_ = (header & 0x80000000) ? 3 : 2;
    strings_.assign(1, std::string());
    size_t offset = 0;
    const size_t count = poolBytes.size() / 4;
    for (size_t i = 1; i < count;) {
        uint32_t length = GetLE(poolBytes, i * 4, 2);
        uint32_t refs = GetLE(poolBytes, i * 4 + 2, 2);
        if (length == 0 && refs == 0) {  // an unused id
            strings_.emplace_back();
            i++;
            continue;
        }
        if (length == 0) {  // longer than 64 KB: the length continues in the next pair
            if (i + 1 >= count)
                return Fail(error, "string pool is truncated");
            length = (refs << 16) | GetLE(poolBytes, (i + 1) * 4, 2);
            i += 2;
        } else {
            i += 1;
        }
        if (offset + length > dataBytes.size())
            return Fail(error, "string pool points outside its data");
        strings_.emplace_back(reinterpret_cast<const char*>(dataBytes.data() + offset), length);
        offset += length;
    }
    return true;
}

bool MsiDatabase::Decode(const std::string& name, const std::vector<Column>& columns, Table& table,
                         std::string* error) const
{
    table.name = name;
    table.columns = columns;
    table.rows.clear();
    compound::Bytes data;
    if (!ReadStream(name, data))
        return Fail(error, "table " + name + " cannot be read");
    uint32_t rowSize = 0;
    for (const Column& c : columns)
        rowSize += c.IsString() ? stringRefBytes_ : c.IntegerWidth();
    if (rowSize == 0)
        return Fail(error, "table " + name + " has no columns");
    if (data.size() % rowSize != 0)
        return Fail(error, "table " + name + " has a partial row");
    const size_t rowCount = data.size() / rowSize;
    table.rows.assign(rowCount, std::vector<Value>(columns.size()));
    size_t columnStart = 0;
    for (size_t c = 0; c < columns.size(); c++) {
        const uint32_t width = columns[c].IsString() ? stringRefBytes_ : columns[c].IntegerWidth();
        for (size_t r = 0; r < rowCount; r++) {
            uint32_t raw = GetLE(data, columnStart + r * width, width);
            Value& v = table.rows[r][c];
            if (raw == 0)
                continue;
            v.isNull = false;
            if (columns[c].IsString()) {
                if (raw >= strings_.size())
                    return Fail(error, "table " + name + " refers to a missing string");
                v.text = strings_[raw];
            } else {
                v.integer = width == 2 ? int32_t(raw) - 0x8000 : int32_t(raw ^ 0x80000000u);
            }
        }
        columnStart += rowCount * width;
    }
    return true;
}

bool MsiDatabase::LoadSchema(std::string* error)
{
    const std::vector<Column> tablesColumns = {{"Name", kTypeValid | kTypeString | kTypeKey | 64}};
    const std::vector<Column> columnsColumns = {{"Table", kTypeValid | kTypeString | kTypeKey | 64},
                                                {"Number", kTypeValid | kTypeKey | 2},
                                                {"Name", kTypeValid | kTypeString | 64},
                                                {"Type", kTypeValid | 2}};
    if (!reader_.Find(reader_.Root(), compound::EncodeMsiStreamName("_Tables", true)) ||
        !reader_.Find(reader_.Root(), compound::EncodeMsiStreamName("_Columns", true)))
        return Fail(error, "not a Windows Installer package: no _Tables or _Columns");
    tableNames_.clear();
    schema_.clear();
    Table tables, columns;
    if (!Decode("_Tables", tablesColumns, tables, error) || !Decode("_Columns", columnsColumns, columns, error))
        return false;
    for (const auto& row : tables.rows)
        tableNames_.push_back(row[0].text);
    // _Columns rows are sorted by table and number in real packages; order them anyway.
    std::vector<std::pair<std::pair<std::string, int>, Column>> sorted;
    for (const auto& row : columns.rows) {
        if (row[0].isNull || row[1].isNull || row[3].isNull)
            return Fail(error, "_Columns has an incomplete row");
        sorted.push_back({{row[0].text, row[1].integer}, Column{row[2].text, uint32_t(row[3].integer) & 0xFFFF}});
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& s : sorted)
        schema_.push_back({s.first.first, s.second});
    return true;
}

bool MsiDatabase::HasTable(const std::string& name) const
{
    for (const std::string& t : tableNames_)
        if (t == name)
            return true;
    return false;
}

bool MsiDatabase::ReadTable(const std::string& name, Table& table, std::string* error) const
{
    if (!HasTable(name))
        return Fail(error, "the package has no " + name + " table");
    std::vector<Column> columns;
    for (const auto& entry : schema_)
        if (entry.first == name)
            columns.push_back(entry.second);
    return Decode(name, columns, table, error);
}

std::optional<std::string> MsiDatabase::Property(const std::string& name) const
{
    Table table;
    if (!ReadTable("Property", table, nullptr) || table.columns.size() < 2)
        return std::nullopt;
    for (const auto& row : table.rows)
        if (row[0].text == name && !row[1].isNull)
            return row[1].text;
    return std::nullopt;
}

}  // namespace mkpatch
