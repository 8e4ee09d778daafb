// A database transform as Windows Installer stores it in a substorage of a patch: its own
// string pool, and one stream per changed table holding rows one after another, each led by
// a 16-bit mask. With bit 0 set the row is whole (inserted, or replacing the row with its key)
// and the mask's high byte counts its columns; otherwise the key columns follow, then each
// column whose bit is set (bit i for column i); a mask of 0 deletes the row with that key.
// Column widths come from the target's schema. The format is not documented by Microsoft;
// Wine's dlls/msi/table.c reads it the same way.
#pragma once

#include "CompoundFile.h"
#include "MsiDatabase.h"

#include <map>
#include <string>
#include <vector>

namespace mkpatch {

class Transform {
public:
    explicit Transform(uint32_t codepage) : codepage_(codepage) {}

    // A full row (inserts, or replaces the row with the same key): every column, in order.
    void AddRow(const std::string& table, const std::vector<Column>& columns, const std::vector<Value>& values);
    // An update of the named columns of the row with the given key values (values are in
    // column order; only key columns and those named are written).
    void UpdateRow(const std::string& table, const std::vector<Column>& columns, const std::vector<Value>& values,
                   const std::vector<std::string>& changed);
    // A new table: its _Tables row and one _Columns row per column.
    void DefineTable(const std::string& table, const std::vector<Column>& columns);

    // Writes the string pool and the table streams into a storage of the writer.
    void WriteTo(compound::Writer& writer, uint32_t storage) const;

private:
    uint32_t StringId(const std::string& text);
    void PutField(compound::Bytes& row, const Column& column, const Value& value);

    uint32_t codepage_;
    std::vector<std::string> strings_;  // id - 1
    std::vector<uint32_t> refs_;
    std::map<std::string, uint32_t> ids_;
    std::map<std::string, compound::Bytes> tables_;
};

Value Null();
Value Integer(int32_t v);
Value Text(const std::string& s);

}  // namespace mkpatch
