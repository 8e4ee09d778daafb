// A read-only view of a Windows Installer database (a product .msi): its string pool, its
// schema from _Tables and _Columns, and the rows of any table, decoded from the column-major
// table streams. Built on the compound reader; everything is bounds-checked.
#pragma once

#include "CompoundFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mkpatch {

enum : uint32_t {
    kTypeValid = 0x0100,
    kTypeString = 0x0800,
    kTypeNullable = 0x1000,
    kTypeKey = 0x2000,
};

struct Column {
    std::string name;
    uint32_t type = 0;  // as in _Columns: width in the low byte, kType... flags above
    bool IsString() const { return (type & kTypeString) != 0 && (type & ~kTypeNullable) != (kTypeString | kTypeValid); }
    bool IsKey() const { return (type & kTypeKey) != 0; }
    // Bytes of an integer column (2 or 4); string columns use the pool's reference size.
    uint32_t IntegerWidth() const { return (type & kTypeString) != 0 || (type & 0xFF) <= 2 ? 2 : 4; }
};

// One field: NULL, an integer or a string.
struct Value {
    bool isNull = true;
    int32_t integer = 0;
    std::string text;
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
    int ColumnIndex(const std::string& column) const;  // -1 when absent
};

class MsiDatabase {
public:
    // False with a one-line reason when the file is not a Windows Installer database. Opening
    // another file forgets the one before.
    bool Open(compound::Bytes bytes, std::string* error);

    bool HasTable(const std::string& name) const;
    // The table's schema and rows; false when the table does not exist or its stream is malformed.
    bool ReadTable(const std::string& name, Table& table, std::string* error) const;
    // A Property table value, or nullopt.
    std::optional<std::string> Property(const std::string& name) const;
    // PID_TEMPLATE of the package's summary information ("Intel;1033").
    std::string Template() const { return template_; }
    uint32_t Codepage() const { return codepage_; }

private:
    bool LoadStrings(std::string* error);
    bool LoadSchema(std::string* error);
    bool ReadStream(const std::string& table, compound::Bytes& out) const;
    bool Decode(const std::string& name, const std::vector<Column>& columns, Table& table, std::string* error) const;

    compound::Reader reader_;
    std::vector<std::string> strings_;  // index = string id; 0 is the null string
    uint32_t stringRefBytes_ = 2;
    uint32_t codepage_ = 0;
    std::vector<std::string> tableNames_;
    std::vector<std::pair<std::string, Column>> schema_;  // (table, column) in column order
    std::string template_;
};

}  // namespace mkpatch
