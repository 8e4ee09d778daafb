// Reading compound files: every offset is checked against the bytes held, every chain is
// bounded by the size of its allocation table, and the directory is walked once with a visited
// mark, so malformed or hostile input ends in an error, never in a loop or an overread.
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

uint16_t Get16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

ClassId ParseClassId(const std::string& text) {
    // {DDDDDDDD-WWWW-WWWW-BBBB-BBBBBBBBBBBB}: the first three groups little-endian.
    ClassId id{};
    if (text.size() != 38 || text[0] != '{' || text[37] != '}') return ClassId{};
    std::string hex;
    for (size_t i = 1; i < 37; i++) {
        bool dash = (i == 9 || i == 14 || i == 19 || i == 24);
        if (dash != (text[i] == '-')) return ClassId{};
        if (!dash) {
            if (!isxdigit(static_cast<unsigned char>(text[i]))) return ClassId{};
            hex += text[i];
        }
    }
    uint8_t raw[16];
    for (int i = 0; i < 16; i++) raw[i] = uint8_t(std::stoul(hex.substr(size_t(i) * 2, 2), nullptr, 16));
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; i++) id[size_t(i)] = raw[order[i]];
    return id;
}

int CompareNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); i++) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = char16_t(x - 32);
        if (y >= u'a' && y <= u'z') y = char16_t(y - 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool Reader::ReadChain(uint32_t start, const std::vector<uint32_t>& table, std::vector<uint32_t>& chain,
                       std::string* error) const {
    chain.clear();
    uint32_t sector = start;
    while (sector != kEndOfChain) {
        if (sector >= table.size()) return Fail(error, "sector chain points outside its allocation table");
        if (chain.size() >= table.size()) return Fail(error, "sector chain loops");
        chain.push_back(sector);
        sector = table[sector];
    }
    return true;
}

bool Reader::ReadSectors(const std::vector<uint32_t>& chain, Bytes& out, std::string* error) const {
    out.clear();
    for (uint32_t sector : chain) {
        uint64_t offset = (uint64_t(sector) + 1) * sectorSize_;
        if (offset + sectorSize_ > bytes_.size()) return Fail(error, "sector lies outside the file");
        out.insert(out.end(), bytes_.begin() + long(offset), bytes_.begin() + long(offset + sectorSize_));
    }
    return true;
}

bool Reader::Open(Bytes bytes, std::string* error) {
    bytes_ = std::move(bytes);
    nodes_.clear();
    fat_.clear();
    miniFat_.clear();
    miniStream_.clear();
    if (Parse(error)) return true;
    nodes_.clear();
    return false;
}

bool Reader::Parse(std::string* error) {
    if (bytes_.size() < 512 || memcmp(bytes_.data(), kSignature, 8) != 0)
        return Fail(error, "not a compound file (no signature)");
    if (Get16(bytes_, 28) != 0xFFFE) return Fail(error, "compound file has a bad byte order mark");
    majorVersion_ = Get16(bytes_, 26);
    uint16_t sectorShift = Get16(bytes_, 30);
    if (!((majorVersion_ == 3 && sectorShift == 9) || (majorVersion_ == 4 && sectorShift == 12)))
        return Fail(error, "compound file has an unsupported version or sector size");
    if (Get16(bytes_, 32) != 6) return Fail(error, "compound file has an unsupported mini sector size");
    sectorSize_ = 1u << sectorShift;
    miniCutoff_ = Get32(bytes_, 56);
    const uint32_t perSector = sectorSize_ / 4;
    const uint64_t sectorsInFile = bytes_.size() / sectorSize_;

    // The DIFAT: 109 entries in the header, then a chain of DIFAT sectors.
    uint32_t fatCount = Get32(bytes_, 44);
    if (fatCount > sectorsInFile) return Fail(error, "compound file claims more FAT sectors than it has");
    std::vector<uint32_t> fatSectors;
    for (uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; i++) fatSectors.push_back(Get32(bytes_, 76 + i * 4));
    uint32_t difat = Get32(bytes_, 68);
    uint64_t difatSeen = 0;
    while (fatSectors.size() < fatCount) {
        if (difat == kEndOfChain || difat == kFreeSector) return Fail(error, "DIFAT chain ends early");
        if (++difatSeen > sectorsInFile) return Fail(error, "DIFAT chain loops");
        uint64_t offset = (uint64_t(difat) + 1) * sectorSize_;
        if (offset + sectorSize_ > bytes_.size()) return Fail(error, "DIFAT sector lies outside the file");
        for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; i++)
            fatSectors.push_back(Get32(bytes_, size_t(offset) + i * 4));
        difat = Get32(bytes_, size_t(offset) + (perSector - 1) * 4);
    }
    for (uint32_t sector : fatSectors) {
        uint64_t offset = (uint64_t(sector) + 1) * sectorSize_;
        if (offset + sectorSize_ > bytes_.size()) return Fail(error, "FAT sector lies outside the file");
        for (uint32_t i = 0; i < perSector; i++) fat_.push_back(Get32(bytes_, size_t(offset) + i * 4));
    }

    // The directory.
    std::vector<uint32_t> chain;
    Bytes dir;
    if (!ReadChain(Get32(bytes_, 48), fat_, chain, error) || !ReadSectors(chain, dir, error)) return false;
    if (dir.size() < kDirEntrySize) return Fail(error, "compound file has no directory");
    for (size_t at = 0; at + kDirEntrySize <= dir.size(); at += kDirEntrySize) {
        Node node;
        uint16_t nameBytes = Get16(dir, at + 64);
        if (nameBytes > 64 || nameBytes % 2 != 0) return Fail(error, "directory entry has a bad name length");
        for (size_t i = 0; i + 2 < nameBytes; i += 2) node.entry.name += char16_t(Get16(dir, at + i));
        uint8_t type = dir[at + 66];
        if (type != 0 && type != 1 && type != 2 && type != 5) return Fail(error, "directory entry has a bad type");
        node.entry.type = EntryType(type);
        node.color = dir[at + 67];
        node.left = Get32(dir, at + 68);
        node.right = Get32(dir, at + 72);
        node.child = Get32(dir, at + 76);
        memcpy(node.entry.classId.data(), &dir[at + 80], 16);
        node.start = Get32(dir, at + 116);
        node.entry.size = Get32(dir, at + 120);
        if (majorVersion_ == 4) node.entry.size |= uint64_t(Get32(dir, at + 124)) << 32;
        node.entry.id = uint32_t(nodes_.size());
        nodes_.push_back(node);
    }
    if (nodes_[0].entry.type != EntryType::Root) return Fail(error, "first directory entry is not the root");

    // The mini FAT and the mini stream (the root entry's stream).
    if (!ReadChain(Get32(bytes_, 60), fat_, chain, error)) return false;
    Bytes miniFatBytes;
    if (!ReadSectors(chain, miniFatBytes, error)) return false;
    for (size_t at = 0; at + 4 <= miniFatBytes.size(); at += 4) miniFat_.push_back(Get32(miniFatBytes, at));
    const Node& root = nodes_[0];
    if (root.entry.size > 0) {
        if (!ReadChain(root.start, fat_, chain, error) || !ReadSectors(chain, miniStream_, error)) return false;
        if (root.entry.size > miniStream_.size()) return Fail(error, "mini stream is shorter than the root entry says");
        miniStream_.resize(size_t(root.entry.size));
    }
    return CollectChildren(error);
}

bool Reader::CollectChildren(std::string* error) {
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
                if (at >= nodes_.size()) return Fail(error, "directory entry points outside the directory");
                if (seen[at]) return Fail(error, "directory tree loops or shares an entry");
                if (nodes_[at].entry.type == EntryType::Empty || nodes_[at].entry.type == EntryType::Root)
                    return Fail(error, "directory tree refers to an empty or root entry");
                seen[at] = true;
                stack.push_back(at);
                at = nodes_[at].left;
            }
            uint32_t node = stack.back();
            stack.pop_back();
            nodes_[storage].children.push_back(node);
            if (nodes_[node].entry.type == EntryType::Storage) storages.push_back(node);
            at = nodes_[node].right;
        }
    }
    return true;
}

const Entry& Reader::Root() const {
    static const Entry none;
    return nodes_.empty() ? none : nodes_[0].entry;
}

std::vector<const Entry*> Reader::Children(const Entry& storage) const {
    std::vector<const Entry*> result;
    if (storage.id >= nodes_.size()) return result;
    for (uint32_t child : nodes_[storage.id].children) result.push_back(&nodes_[child].entry);
    return result;
}

const Entry* Reader::Find(const Entry& storage, const std::u16string& name) const {
    for (const Entry* child : Children(storage))
        if (child->name == name) return child;
    return nullptr;
}

bool Reader::ReadStream(const Entry& stream, Bytes& out, std::string* error) const {
    out.clear();
    if (stream.id >= nodes_.size() || nodes_[stream.id].entry.type != EntryType::Stream)
        return Fail(error, "not a stream of this file");
    const Node& node = nodes_[stream.id];
    uint64_t size = node.entry.size;
    if (size == 0) return true;
    std::vector<uint32_t> chain;
    if (size < miniCutoff_) {
        if (!ReadChain(node.start, miniFat_, chain, error)) return false;
        if (size > uint64_t(chain.size()) * 64) return Fail(error, "stream is longer than its mini sector chain");
        for (uint32_t sector : chain) {
            uint64_t offset = uint64_t(sector) * 64;
            if (offset + 64 > miniStream_.size()) return Fail(error, "mini sector lies outside the mini stream");
            out.insert(out.end(), miniStream_.begin() + long(offset), miniStream_.begin() + long(offset + 64));
        }
    } else {
        if (!ReadChain(node.start, fat_, chain, error)) return false;
        if (size > uint64_t(chain.size()) * sectorSize_) return Fail(error, "stream is longer than its sector chain");
        if (!ReadSectors(chain, out, error)) return false;
    }
    out.resize(size_t(size));
    return true;
}

int Reader::BlackHeight(uint32_t node, int depth, std::string* error) const {
    // Black nodes on every path down to a leaf, or -1 when the rules are broken. A red-black
    // tree of 2^32 entries is less than 64 deep, which bounds the recursion.
    if (node == kNoStream) return 1;
    if (depth > 64) return Fail(error, "directory tree is too deep to be balanced"), -1;
    const Node& n = nodes_[node];
    bool red = n.color == 0;
    if (red) {
        for (uint32_t kid : {n.left, n.right})
            if (kid != kNoStream && nodes_[kid].color == 0) return Fail(error, "red entry has a red child"), -1;
    }
    int left = BlackHeight(n.left, depth + 1, error);
    int right = BlackHeight(n.right, depth + 1, error);
    if (left < 0 || right < 0) return -1;
    if (left != right) return Fail(error, "paths differ in black entries"), -1;
    return left + (red ? 0 : 1);
}

bool Reader::CheckRedBlackTree(std::string* error) const {
    for (const Node& storage : nodes_) {
        if (storage.entry.type != EntryType::Storage && storage.entry.type != EntryType::Root) continue;
        for (size_t i = 1; i < storage.children.size(); i++)
            if (CompareNames(nodes_[storage.children[i - 1]].entry.name, nodes_[storage.children[i]].entry.name) >= 0)
                return Fail(error, "siblings are out of order");
        if (storage.child == kNoStream) continue;
        if (nodes_[storage.child].color == 0) return Fail(error, "tree root is red");
        if (BlackHeight(storage.child, 0, error) < 0) return false;
    }
    return true;
}

}  // namespace compound
