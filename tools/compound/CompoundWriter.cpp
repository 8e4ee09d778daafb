// Writing compound files (version 3, 512-byte sectors, 64-byte mini sectors). The layout is
// fixed: large streams, the mini stream, the directory, the mini FAT, the FAT, then the
// DIFAT. Each storage's children become a balanced search tree whose incomplete last level is
// red and all else black, which satisfies the red-black rules.
#include "CompoundFile.h"

#include <algorithm>

namespace compound {

namespace {

const uint32_t kEndOfChain = 0xFFFFFFFE;
const uint32_t kFreeSector = 0xFFFFFFFF;
const uint32_t kFatSector = 0xFFFFFFFD;
const uint32_t kDifatSector = 0xFFFFFFFC;
const uint32_t kNoStream = 0xFFFFFFFF;
const uint32_t kSector = 512;
const uint32_t kMiniSector = 64;
const uint32_t kMiniCutoff = 4096;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

uint32_t SectorsFor(size_t bytes, uint32_t unit)
{
    return uint32_t((bytes + unit - 1) / unit);
}

struct DirEntry {
    std::u16string name;
    EntryType type = EntryType::Empty;
    ClassId classId{};
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    uint8_t color = 1;
    uint32_t start = kEndOfChain;
    uint32_t size = 0;
    int depth = 0;
};

// Makes sorted[lo, hi) a balanced tree; returns its root.
uint32_t BuildTree(std::vector<DirEntry>& dir, const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth,
                   int& maxDepth)
{
    if (lo >= hi)
        return kNoStream;
    size_t mid = lo + (hi - lo - 1) / 2;
    uint32_t node = sorted[mid];
    dir[node].depth = depth;
    maxDepth = std::max(maxDepth, depth);
    dir[node].left = BuildTree(dir, sorted, lo, mid, depth + 1, maxDepth);
    dir[node].right = BuildTree(dir, sorted, mid + 1, hi, depth + 1, maxDepth);
    return node;
}

// Appends a chain of `count` sectors starting at `first` to the FAT.
void Chain(std::vector<uint32_t>& fat, uint32_t first, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        fat[first + i] = (i + 1 == count) ? kEndOfChain : first + i + 1;
}

}  // namespace

Writer::Writer(const ClassId& rootClassId)
{
    items_.push_back({u"Root Entry", EntryType::Root, rootClassId, {}, 0});
}

uint32_t Writer::AddStorage(uint32_t parent, const std::u16string& name, const ClassId& classId)
{
    items_.push_back({name, EntryType::Storage, classId, {}, parent});
    return uint32_t(items_.size() - 1);
}

void Writer::AddStream(uint32_t parent, const std::u16string& name, Bytes data)
{
    items_.push_back({name, EntryType::Stream, ClassId{}, std::move(data), parent});
}

Bytes Writer::Write() const
{
    // Directory entries have the indices of items_; padded to whole sectors below.
    std::vector<DirEntry> dir(items_.size());
    for (size_t i = 0; i < items_.size(); i++) {
        dir[i].name = items_[i].name.substr(0, 31);
        dir[i].type = items_[i].type;
        dir[i].classId = items_[i].classId;
    }
    for (size_t storage = 0; storage < items_.size(); storage++) {
        if (items_[storage].type == EntryType::Stream)
            continue;
        std::vector<uint32_t> kids;
        for (size_t i = 1; i < items_.size(); i++)
            if (items_[i].parent == storage)
                kids.push_back(uint32_t(i));
        std::sort(kids.begin(), kids.end(),
                  [&](uint32_t a, uint32_t b) { return CompareNames(dir[a].name, dir[b].name) < 0; });
        int maxDepth = 0;
        dir[storage].child = BuildTree(dir, kids, 0, kids.size(), 0, maxDepth);
        bool perfect = kids.size() + 1 == (size_t(1) << (maxDepth + 1));
        for (uint32_t kid : kids)
            dir[kid].color = (!perfect && dir[kid].depth == maxDepth) ? 0 : 1;
    }

    // Stream data: large streams in sectors of their own, small ones in the mini stream.
    Bytes sectors, mini;
    std::vector<uint32_t> fat, miniFat;
    for (size_t i = 0; i < items_.size(); i++) {
        const Bytes& data = items_[i].data;
        if (items_[i].type != EntryType::Stream || data.empty())
            continue;
        dir[i].size = uint32_t(data.size());
        if (data.size() >= kMiniCutoff) {
            uint32_t first = SectorsFor(sectors.size(), kSector), count = SectorsFor(data.size(), kSector);
            dir[i].start = first;
            fat.resize(first + count);
            Chain(fat, first, count);
            sectors.insert(sectors.end(), data.begin(), data.end());
            sectors.resize(size_t(first + count) * kSector, 0);
        } else {
            uint32_t first = SectorsFor(mini.size(), kMiniSector), count = SectorsFor(data.size(), kMiniSector);
            dir[i].start = first;
            miniFat.resize(first + count);
            Chain(miniFat, first, count);
            mini.insert(mini.end(), data.begin(), data.end());
            mini.resize(size_t(first + count) * kMiniSector, 0);
        }
    }
    auto appendRegion = [&](const Bytes& region, uint32_t& first) {
        uint32_t count = SectorsFor(region.size(), kSector);
        first = count ? uint32_t(fat.size()) : kEndOfChain;
        fat.resize(fat.size() + count);
        if (count)
            Chain(fat, first, count);
        sectors.insert(sectors.end(), region.begin(), region.end());
        sectors.resize(fat.size() * kSector, 0);
        return count;
    };
    uint32_t miniFirst = kEndOfChain;
    appendRegion(mini, miniFirst);
    dir[0].start = miniFirst;
    dir[0].size = uint32_t(mini.size());

    Bytes dirBytes(size_t(SectorsFor(dir.size() * 128, kSector)) * kSector, 0);
    for (size_t at = 0; at < dirBytes.size(); at += 128) {
        Put32(dirBytes, at + 68, kNoStream);
        Put32(dirBytes, at + 72, kNoStream);
        Put32(dirBytes, at + 76, kNoStream);
    }
    for (size_t i = 0; i < dir.size(); i++) {
        size_t at = i * 128;
        const DirEntry& e = dir[i];
        for (size_t c = 0; c < e.name.size(); c++)
            Put16(dirBytes, at + c * 2, e.name[c]);
        Put16(dirBytes, at + 64, uint32_t(e.name.size() + 1) * 2);
        dirBytes[at + 66] = uint8_t(e.type);
        dirBytes[at + 67] = e.color;
        Put32(dirBytes, at + 68, e.left);
        Put32(dirBytes, at + 72, e.right);
        Put32(dirBytes, at + 76, e.child);
        std::copy(e.classId.begin(), e.classId.end(), dirBytes.begin() + long(at + 80));
        Put32(dirBytes, at + 116, e.type == EntryType::Storage ? 0 : e.start);
        Put32(dirBytes, at + 120, e.size);
    }
    uint32_t dirFirst = kEndOfChain;
    appendRegion(dirBytes, dirFirst);

    Bytes miniFatBytes(size_t(SectorsFor(miniFat.size() * 4, kSector)) * kSector, 0xFF);
    for (size_t i = 0; i < miniFat.size(); i++)
        Put32(miniFatBytes, i * 4, miniFat[i]);
    uint32_t miniFatFirst = kEndOfChain;
    uint32_t miniFatCount = appendRegion(miniFatBytes, miniFatFirst);

    // The FAT also covers its own sectors and those of the DIFAT.
    const uint32_t data = uint32_t(fat.size());
    uint32_t fatCount = 1, difatCount = 0;
    for (;;) {
        uint32_t needFat = SectorsFor(size_t(data + fatCount + difatCount) * 4, kSector);
        uint32_t needDifat = needFat > 109 ? SectorsFor(size_t(needFat - 109) * 4, kSector - 4) : 0;
        if (needFat == fatCount && needDifat == difatCount)
            break;
        fatCount = needFat;
        difatCount = needDifat;
    }
    fat.resize(size_t(fatCount) * (kSector / 4), kFreeSector);
    for (uint32_t i = 0; i < fatCount; i++)
        fat[data + i] = kFatSector;
    for (uint32_t i = 0; i < difatCount; i++)
        fat[data + fatCount + i] = kDifatSector;

    Bytes out(kSector, 0);
    const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(signature, signature + 8, out.begin());
    Put16(out, 24, 0x003E);
    Put16(out, 26, 3);
    Put16(out, 28, 0xFFFE);
    Put16(out, 30, 9);
    Put16(out, 32, 6);
    Put32(out, 44, fatCount);
    Put32(out, 48, dirFirst);
    Put32(out, 56, kMiniCutoff);
    Put32(out, 60, miniFatFirst);
    Put32(out, 64, miniFatCount);
    Put32(out, 68, difatCount ? data + fatCount : kEndOfChain);
    Put32(out, 72, difatCount);
    for (uint32_t i = 0; i < 109; i++)
        Put32(out, 76 + i * 4, i < fatCount ? data + i : kFreeSector);

    out.insert(out.end(), sectors.begin(), sectors.end());
    Bytes fatBytes(size_t(fatCount) * kSector);
    for (size_t i = 0; i < fat.size(); i++)
        Put32(fatBytes, i * 4, fat[i]);
    out.insert(out.end(), fatBytes.begin(), fatBytes.end());
    for (uint32_t d = 0; d < difatCount; d++) {
        Bytes difat(kSector, 0xFF);
        for (uint32_t i = 0; i < kSector / 4 - 1; i++) {
            uint32_t index = 109 + d * (kSector / 4 - 1) + i;
            if (index < fatCount)
                Put32(difat, i * 4, data + index);
        }
        Put32(difat, kSector - 4, d + 1 < difatCount ? data + fatCount + d + 1 : kEndOfChain);
        out.insert(out.end(), difat.begin(), difat.end());
    }
    return out;
}

}  // namespace compound
