// Encoding transform rows: strings become 2-byte ids into the transform's own pool, integers
// are stored as value + 0x8000 (2 bytes) or value ^ 0x80000000 (4 bytes), 0 being NULL.
#include "Transform.h"

#include "MsiStreamName.h"

namespace mkpatch {

namespace {

void PutLE(compound::Bytes& b, uint32_t v, uint32_t width)
{
    for (uint32_t i = 0; i < width; i++)
        b.push_back(uint8_t(v >> (8 * i)));
}

const std::vector<Column> kTablesColumns = {{"Name", kTypeValid | kTypeString | kTypeKey | 64}};
const std::vector<Column> kColumnsColumns = {{"Table", kTypeValid | kTypeString | kTypeKey | 64},
                                             {"Number", kTypeValid | kTypeKey | 2},
                                             {"Name", kTypeValid | kTypeString | 64},
                                             {"Type", kTypeValid | 2}};

}  // namespace

Value Null()
{
    return Value{};
}
Value Integer(int32_t v)
{
    return Value{false, v, {}};
}
Value Text(const std::string& s)
{
    return Value{false, 0, s};
}

uint32_t Transform::StringId(const std::string& text)
{
    auto found = ids_.find(text);
    if (found != ids_.end()) {
        refs_[found->second - 1]++;
        return found->second;
    }
    strings_.push_back(text);
    refs_.push_back(1);
    uint32_t id = uint32_t(strings_.size());
    ids_[text] = id;
    return id;
}

void Transform::PutField(compound::Bytes& row, const Column& column, const Value& value)
{
    if (column.IsString()) {
        PutLE(row, value.isNull ? 0 : StringId(value.text), 2);
    } else if (column.IntegerWidth() == 2) {
        PutLE(row, value.isNull ? 0 : uint32_t(value.integer + 0x8000) & 0xFFFF, 2);
    } else {
        PutLE(row, value.isNull ? 0 : uint32_t(value.integer) ^ 0x80000000u, 4);
    }
}

void Transform::AddRow(const std::string& table, const std::vector<Column>& columns, const std::vector<Value>& values)
{
    compound::Bytes& stream = tables_[table];
    PutLE(stream, 1u | uint32_t(columns.size() << 8), 2);
    for (size_t i = 0; i < columns.size(); i++)
        PutField(stream, columns[i], values[i]);
}

void Transform::UpdateRow(const std::string& table, const std::vector<Column>& columns,
                          const std::vector<Value>& values, const std::vector<std::string>& changed)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < columns.size(); i++)
        for (const std::string& name : changed)
            if (columns[i].name == name && !columns[i].IsKey())
                mask |= 1u << i;
    compound::Bytes& stream = tables_[table];
    PutLE(stream, mask, 2);
    for (size_t i = 0; i < columns.size(); i++)
        if (columns[i].IsKey() || (mask & (1u << i)))
            PutField(stream, columns[i], values[i]);
}

void Transform::DefineTable(const std::string& table, const std::vector<Column>& columns)
{
    AddRow("_Tables", kTablesColumns, {Text(table)});
    for (size_t i = 0; i < columns.size(); i++)
        AddRow("_Columns", kColumnsColumns,
               {Text(table), Integer(int32_t(i + 1)), Text(columns[i].name), Integer(int32_t(columns[i].type))});
}

void Transform::WriteTo(compound::Writer& writer, uint32_t storage) const
{
    compound::Bytes pool, data;
    PutLE(pool, codepage_, 4);
    for (size_t i = 0; i < strings_.size(); i++) {
        PutLE(pool, uint32_t(strings_[i].size()), 2);
        PutLE(pool, refs_[i], 2);
        data.insert(data.end(), strings_[i].begin(), strings_[i].end());
    }
    writer.AddStream(storage, compound::EncodeMsiStreamName("_StringPool", true), pool);
    writer.AddStream(storage, compound::EncodeMsiStreamName("_StringData", true), data);
    for (const auto& table : tables_)
        writer.AddStream(storage, compound::EncodeMsiStreamName(table.first, true), table.second);
}

}  // namespace mkpatch
