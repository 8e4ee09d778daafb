// Reading compound files: every offset is checked against the file's size, every chain is
// bounded by the size of its allocation table, and the directory is walked once with a visited
// mark, so malformed or hostile input ends in an error, never in a loop or an overread. Only
// the header, the allocation tables and the directory are read up front.
#include "CompoundFile.h"

#include <cctype>
#include <cstring>

namespace compound {

namespace {

const uint32_t kEndOfChain = 0xFFFFFFFE;
const uint32_t kFreeSector = 0xFFFFFFFF;
const uint32_t kNoStream = 0xFFFFFFFF;
const uint32_t kDirEntrySize = 128;
const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

uint16_t Get16(const Bytes& b, size_t at)
{
    return uint16_t(b[at] | (b[at + 1] << 8));
}

uint32_t Get32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

bool Fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

}  // namespace

ClassId ParseClassId(const std::string& text)
{
    // {DDDDDDDD-WWWW-WWWW-BBBB-BBBBBBBBBBBB}: the first three groups little-endian.
    ClassId id{};
    if (text.size() != 38 || text[0] != '{' || text[37] != '}')
        return ClassId{};
    std::string hex;
    for (size_t i = 1; i < 37; i++) {
        bool dash = (i == 9 || i == 14 || i == 19 || i == 24);
        if (dash != (text[i] == '-'))
            return ClassId{};
        if (!dash) {
            if (!isxdigit(static_cast<unsigned char>(text[i])))
                return ClassId{};
            hex += text[i];
        }
    }
    uint8_t raw[16];
    for (int i = 0; i < 16; i++)
        raw[i] = uint8_t(std::stoul(hex.substr(size_t(i) * 2, 2), nullptr, 16));
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; i++)
        id[size_t(i)] = raw[order[i]];
    return id;
}

int CompareNames(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); i++) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z')
            x = char16_t(x - 32);
        if (y >= u'a' && y <= u'z')
            y = char16_t(y - 32);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool Reader::ReadChain(uint32_t start, const std::vector<uint32_t>& table, std::vector<uint32_t>& chain,
                       std::string* error) const
{
    chain.clear();
    uint32_t sector = start;
    while (sector != kEndOfChain) {
        if (sector >= table.size())
            return Fail(error, "sector chain points outside its allocation table");
        if (chain.size() >= table.size())
            return Fail(error, "sector chain loops");
        chain.push_back(sector);
        sector = table[sector];
    }
    return true;
}

bool Reader::Read(uint64_t offset, uint8_t* out, size_t count) const
{
    if (offset > size_ || count > size_ - offset)
        return false;
    if (source_)
        return source_(offset, out, count);
    memcpy(out, held_.data() + offset, count);
    return true;
}

// The first count sectors of a chain, one after another.
bool Reader::ReadSectors(const std::vector<uint32_t>& chain, size_t count, Bytes& out, std::string* error) const
{
    out.clear();
    if (count > chain.size())
        return Fail(error, "sector chain is shorter than its stream");
    out.resize(count * sectorSize_);
    for (size_t i = 0; i < count; i++) {
        uint64_t offset = (uint64_t(chain[i]) + 1) * sectorSize_;
        if (offset + sectorSize_ > size_)
            return Fail(error, "sector lies outside the file");
        if (!Read(offset, out.data() + i * sectorSize_, sectorSize_))
            return Fail(error, "reading a sector failed");
    }
    return true;
}

bool Reader::Open(Bytes bytes, std::string* error)
{
    held_ = std::move(bytes);
    source_ = nullptr;
    size_ = held_.size();
    if (Parse(error))
        return true;
    nodes_.clear();
    return false;
}

bool Reader::Open(uint64_t size, ReadAt read, std::string* error)
{
    held_.clear();
    source_ = std::move(read);
    size_ = size;
    if (Parse(error))
        return true;
    nodes_.clear();
    return false;
}

bool Reader::Parse(std::string* error)
{
    nodes_.clear();
    fat_.clear();
    miniFat_.clear();
    miniChain_.clear();
    miniSize_ = 0;
    Bytes header(512);
    if (size_ < 512 || !Read(0, header.data(), header.size()) || memcmp(header.data(), kSignature, 8) != 0)
        return Fail(error, "not a compound file (no signature)");
    if (Get16(header, 28) != 0xFFFE)
        return Fail(error, "compound file has a bad byte order mark");
    majorVersion_ = Get16(header, 26);
    uint16_t sectorShift = Get16(header, 30);
    if (!((majorVersion_ == 3 && sectorShift == 9) || (majorVersion_ == 4 && sectorShift == 12)))
        return Fail(error, "compound file has an unsupported version or sector size");
    if (Get16(header, 32) != 6)
        return Fail(error, "compound file has an unsupported mini sector size");
    sectorSize_ = 1u << sectorShift;
    miniCutoff_ = Get32(header, 56);
    const uint32_t perSector = sectorSize_ / 4;
    const uint64_t sectorsInFile = size_ / sectorSize_;

    // The DIFAT: 109 entries in the header, then a chain of DIFAT sectors.
    uint32_t fatCount = Get32(header, 44);
    if (fatCount > sectorsInFile)
        return Fail(error, "compound file claims more FAT sectors than it has");
    std::vector<uint32_t> fatSectors;
    for (uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; i++)
        fatSectors.push_back(Get32(header, 76 + i * 4));
    uint32_t difat = Get32(header, 68);
    uint64_t difatSeen = 0;
    Bytes sector(sectorSize_);
    while (fatSectors.size() < fatCount) {
        if (difat == kEndOfChain || difat == kFreeSector)
            return Fail(error, "DIFAT chain ends early");
        if (++difatSeen > sectorsInFile)
            return Fail(error, "DIFAT chain loops");
        uint64_t offset = (uint64_t(difat) + 1) * sectorSize_;
        if (offset + sectorSize_ > size_ || !Read(offset, sector.data(), sectorSize_))
            return Fail(error, "DIFAT sector lies outside the file");
        for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; i++)
            fatSectors.push_back(Get32(sector, i * 4));
        difat = Get32(sector, (perSector - 1) * 4);
    }
    fat_.reserve(size_t(fatCount) * perSector);
    for (uint32_t fatSector : fatSectors) {
        uint64_t offset = (uint64_t(fatSector) + 1) * sectorSize_;
        if (offset + sectorSize_ > size_ || !Read(offset, sector.data(), sectorSize_))
            return Fail(error, "FAT sector lies outside the file");
        for (uint32_t i = 0; i < perSector; i++)
            fat_.push_back(Get32(sector, i * 4));
    }

    // The directory.
    std::vector<uint32_t> chain;
    Bytes dir;
    if (!ReadChain(Get32(header, 48), fat_, chain, error) || !ReadSectors(chain, chain.size(), dir, error))
        return false;
    if (dir.size() < kDirEntrySize)
        return Fail(error, "compound file has no directory");
    for (size_t at = 0; at + kDirEntrySize <= dir.size(); at += kDirEntrySize) {
        Node node;
        uint16_t nameBytes = Get16(dir, at + 64);
        if (nameBytes > 64 || nameBytes % 2 != 0)
            return Fail(error, "directory entry has a bad name length");
        for (size_t i = 0; i + 2 < nameBytes; i += 2)
            node.entry.name += char16_t(Get16(dir, at + i));
        uint8_t type = dir[at + 66];
        if (type != 0 && type != 1 && type != 2 && type != 5)
            return Fail(error, "directory entry has a bad type");
        node.entry.type = EntryType(type);
        node.color = dir[at + 67];
        node.left = Get32(dir, at + 68);
        node.right = Get32(dir, at + 72);
        node.child = Get32(dir, at + 76);
        memcpy(node.entry.classId.data(), &dir[at + 80], 16);
        node.start = Get32(dir, at + 116);
        node.entry.size = Get32(dir, at + 120);
        if (majorVersion_ == 4)
            node.entry.size |= uint64_t(Get32(dir, at + 124)) << 32;
        node.entry.id = uint32_t(nodes_.size());
        nodes_.push_back(node);
    }
    if (nodes_[0].entry.type != EntryType::Root)
        return Fail(error, "first directory entry is not the root");

    // The mini FAT, and where the mini stream (the root entry's stream) lies; its sectors are
    // read when a small stream is.
    if (!ReadChain(Get32(header, 60), fat_, chain, error))
        return false;
    Bytes miniFatBytes;
    if (!ReadSectors(chain, chain.size(), miniFatBytes, error))
        return false;
    for (size_t at = 0; at + 4 <= miniFatBytes.size(); at += 4)
        miniFat_.push_back(Get32(miniFatBytes, at));
    const Node& root = nodes_[0];
    if (root.entry.size > 0) {
        if (!ReadChain(root.start, fat_, miniChain_, error))
            return false;
        for (uint32_t mini : miniChain_)
            if ((uint64_t(mini) + 2) * sectorSize_ > size_)
                return Fail(error, "sector lies outside the file");
        if (root.entry.size > uint64_t(miniChain_.size()) * sectorSize_)
            return Fail(error, "mini stream is shorter than the root entry says");
        miniSize_ = root.entry.size;
    }
    return CollectChildren(error);
}

bool Reader::CollectChildren(std::string* error)
{
    // Walks every storage's sibling tree in order; each entry may be reached only once.
    std::vector<bool> seen(nodes_.size(), false);
    seen[0] = true;
    std::vector<uint32_t> storages = {0};
    while (!storages.empty()) {
        uint32_t storage = storages.back();
        storages.pop_back();
        std::vector<uint32_t> stack;
        uint32_t at = nodes_[storage].child;
        while (at != kNoStream || !stack.empty()) {
            while (at != kNoStream) {
                if (at >= nodes_.size())
                    return Fail(error, "directory entry points outside the directory");
                if (seen[at])
                    return Fail(error, "directory tree loops or shares an entry");
                if (nodes_[at].entry.type == EntryType::Empty || nodes_[at].entry.type == EntryType::Root)
                    return Fail(error, "directory tree refers to an empty or root entry");
                seen[at] = true;
                stack.push_back(at);
                at = nodes_[at].left;
            }
            uint32_t node = stack.back();
            stack.pop_back();
            nodes_[storage].children.push_back(node);
            if (nodes_[node].entry.type == EntryType::Storage)
                storages.push_back(node);
            at = nodes_[node].right;
        }
    }
    return true;
}

const Entry& Reader::Root() const
{
    static const Entry none;
    return nodes_.empty() ? none : nodes_[0].entry;
}

std::vector<const Entry*> Reader::Children(const Entry& storage) const
{
    std::vector<const Entry*> result;
    if (storage.id >= nodes_.size())
        return result;
    for (uint32_t child : nodes_[storage.id].children)
        result.push_back(&nodes_[child].entry);
    return result;
}

const Entry* Reader::Find(const Entry& storage, const std::u16string& name) const
{
    for (const Entry* child : Children(storage))
        if (child->name == name)
            return child;
    return nullptr;
}

bool Reader::ReadStream(const Entry& stream, Bytes& out, std::string* error) const
{
    out.clear();
    if (stream.id >= nodes_.size() || nodes_[stream.id].entry.type != EntryType::Stream)
        return Fail(error, "not a stream of this file");
    const Node& node = nodes_[stream.id];
    uint64_t size = node.entry.size;
    if (size == 0)
        return true;
    std::vector<uint32_t> chain;
    if (size < miniCutoff_) {
        if (!ReadChain(node.start, miniFat_, chain, error))
            return false;
        if (size > uint64_t(chain.size()) * 64)
            return Fail(error, "stream is longer than its mini sector chain");
        size_t count = size_t((size + 63) / 64);
        out.resize(count * 64);
        for (size_t i = 0; i < count; i++) {
            uint64_t offset = uint64_t(chain[i]) * 64;
            if (offset + 64 > miniSize_)
                return Fail(error, "mini sector lies outside the mini stream");
            uint64_t at = (uint64_t(miniChain_[size_t(offset / sectorSize_)]) + 1) * sectorSize_ + offset % sectorSize_;
            if (!Read(at, out.data() + i * 64, 64))
                return Fail(error, "reading a mini sector failed");
        }
    } else {
        if (!ReadChain(node.start, fat_, chain, error))
            return false;
        if (size > uint64_t(chain.size()) * sectorSize_)
            return Fail(error, "stream is longer than its sector chain");
        if (!ReadSectors(chain, size_t((size + sectorSize_ - 1) / sectorSize_), out, error))
            return false;
    }
    out.resize(size_t(size));
    return true;
}

int Reader::BlackHeight(uint32_t node, int depth, std::string* error) const
{
    // Black nodes on every path down to a leaf, or -1 when the rules are broken. A red-black
    // tree of 2^32 entries is less than 64 deep, which bounds the recursion.
    if (node == kNoStream)
        return 1;
    if (depth > 64)
        return Fail(error, "directory tree is too deep to be balanced"), -1;
    const Node& n = nodes_[node];
    bool red = n.color == 0;
    if (red) {
        for (uint32_t kid : {n.left, n.right})
            if (kid != kNoStream && nodes_[kid].color == 0)
                return Fail(error, "red entry has a red child"), -1;
    }
    int left = BlackHeight(n.left, depth + 1, error);
    int right = BlackHeight(n.right, depth + 1, error);
    if (left < 0 || right < 0)
        return -1;
    if (left != right)
        return Fail(error, "paths differ in black entries"), -1;
    return left + (red ? 0 : 1);
}

bool Reader::CheckRedBlackTree(std::string* error) const
{
    // From the root down through the storages that Open's walk reached: every entry of their
    // trees lies inside the directory and is reached once. Other entries, storages among them,
    // may point anywhere and are not looked at.
    if (nodes_.empty())
        return Fail(error, "no compound file is open");
    std::vector<uint32_t> storages = {0};
    while (!storages.empty()) {
        const Node& storage = nodes_[storages.back()];
        storages.pop_back();
        for (size_t i = 0; i < storage.children.size(); i++) {
            const Node& child = nodes_[storage.children[i]];
            if (i > 0 && CompareNames(nodes_[storage.children[i - 1]].entry.name, child.entry.name) >= 0)
                return Fail(error, "siblings are out of order");
            if (child.entry.type == EntryType::Storage)
                storages.push_back(storage.children[i]);
        }
        if (storage.child == kNoStream)
            continue;
        if (nodes_[storage.child].color == 0)
            return Fail(error, "tree root is red");
        if (BlackHeight(storage.child, 0, error) < 0)
            return false;
    }
    return true;
}

}  // namespace compound
