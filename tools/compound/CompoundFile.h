// OLE compound files (structured storage), as Windows Installer packages and patches use them.
// Reader: a read-only, bounds-checked view of a file, held whole in memory or read on demand
// (then it holds only the allocation tables and the directory); it never reads outside the
// file and reports every inconsistency as an error.
// Writer: builds a tree of storages and streams and serialises it as a version 3 file
// (512-byte sectors) with a valid red-black directory tree.
// Plain C++17, no platform API; used by the packer's inspect and by the patch builder.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace compound {

using Bytes = std::vector<uint8_t>;
using ClassId = std::array<uint8_t, 16>;

enum class EntryType : uint8_t { Empty = 0, Storage = 1, Stream = 2, Root = 5 };

struct Entry {
    std::u16string name;  // as stored, for example u"\x0005SummaryInformation"
    EntryType type = EntryType::Empty;
    ClassId classId{};
    uint64_t size = 0;  // streams only
    uint32_t id = 0;    // index in the directory
};

// A class id from its registry form "{00000000-0000-0000-0000-000000000000}"; all zero when
// the text is malformed.
ClassId ParseClassId(const std::string& text);

// The order of names in a storage's directory tree: shorter names first, then by upper-cased
// UTF-16 code units (negative, zero or positive).
int CompareNames(const std::u16string& a, const std::u16string& b);

// Where a reader finds a file's bytes: fills out with count bytes from offset, false when
// they cannot all be read.
using ReadAt = std::function<bool(uint64_t offset, uint8_t* out, size_t count)>;

class Reader {
public:
    // Parses header, FAT, mini FAT and directory. False, with a one-line reason, when the
    // bytes are not a compound file or any structure points outside the file or loops.
    bool Open(Bytes bytes, std::string* error);
    // The same for a file of the given size that read fetches from; streams, the mini stream
    // included, are read only when asked for, so memory follows the directory, not the file.
    bool Open(uint64_t size, ReadAt read, std::string* error);

    const Entry& Root() const;
    std::vector<const Entry*> Children(const Entry& storage) const;
    const Entry* Find(const Entry& storage, const std::u16string& name) const;
    bool ReadStream(const Entry& stream, Bytes& out, std::string* error) const;

    // True when every storage's siblings form a binary search tree in CompareNames order
    // that satisfies the red-black rules (what real Windows insists on). Only the storages
    // reached from the root are looked at: entries outside every tree were never validated.
    bool CheckRedBlackTree(std::string* error) const;

private:
    struct Node {
        Entry entry;
        uint32_t left = 0, right = 0, child = 0, start = 0;
        uint8_t color = 0;               // 0 red, 1 black
        std::vector<uint32_t> children;  // in tree order, filled by Open
    };
    bool Parse(std::string* error);
    bool Read(uint64_t offset, uint8_t* out, size_t count) const;
    bool ReadChain(uint32_t start, const std::vector<uint32_t>& table, std::vector<uint32_t>& chain,
                   std::string* error) const;
    bool ReadSectors(const std::vector<uint32_t>& chain, size_t count, Bytes& out, std::string* error) const;
    bool CollectChildren(std::string* error);
    int BlackHeight(uint32_t node, int depth, std::string* error) const;

    Bytes held_;     // the whole file, when it was given in memory
    ReadAt source_;  // otherwise where its bytes come from
    uint64_t size_ = 0;
    std::vector<Node> nodes_;
    std::vector<uint32_t> fat_, miniFat_;
    std::vector<uint32_t> miniChain_;  // the mini stream's sectors (the root entry's stream)
    uint64_t miniSize_ = 0;
    uint32_t sectorSize_ = 512;
    uint32_t miniCutoff_ = 4096;
    uint16_t majorVersion_ = 3;
};

// Builds a compound file in memory. Storages are referred to by the number AddStorage returns;
// the root storage is number 0. Names must be unique within a storage.
class Writer {
public:
    explicit Writer(const ClassId& rootClassId = ClassId{});

    uint32_t AddStorage(uint32_t parent, const std::u16string& name, const ClassId& classId = ClassId{});
    void AddStream(uint32_t parent, const std::u16string& name, Bytes data);

    // The whole file, version 3 with 512-byte sectors.
    Bytes Write() const;

private:
    struct Item {
        std::u16string name;
        EntryType type;
        ClassId classId;
        Bytes data;
        uint32_t parent;
    };
    std::vector<Item> items_;
};

}  // namespace compound
