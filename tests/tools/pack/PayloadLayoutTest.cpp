// An updater that the packer builds, read back with nothing but PayloadLayout.h, the definitions
// the updater's reader compiles: its payload offset found as the updater finds it in its own
// flavour's image, then the texts, the update table and every file's bytes. A writer that
// drifted from the layout, or a layout fact that is not what the packer writes, fails here.
#include "Builder.h"
#include "PayloadLayout.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using packtest::Bytes;
namespace layout = payloadlayout;

uint32_t U32At(const Bytes& b, size_t at)
{
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (uint32_t(b.at(at + 3)) << 24);
}

uint16_t U16At(const Bytes& b, size_t at)
{
    return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

// P as the updater takes it: the section table at the fixed distance of its flavour's NT
// headers, the greatest PointerToRawData (ties keep the earlier section), that section's end.
size_t PayloadOffset(const Bytes& file, const layout::ImageFlavour& flavour)
{
    size_t nt = U32At(file, layout::kNtHeadersPointerOffset);
    size_t table = nt + flavour.ntHeadersSize;
    size_t best = table;
    for (size_t i = 0; i < U16At(file, nt + layout::kSectionCountOffset); ++i) {
        size_t section = table + i * layout::kSectionHeaderSize;
        if (U32At(file, section + layout::kSectionRawPointerOffset) >
            U32At(file, best + layout::kSectionRawPointerOffset))
            best = section;
    }
    return U32At(file, best + layout::kSectionRawPointerOffset) + U32At(file, best + layout::kSectionRawSizeOffset);
}

struct ReadEntry {
    std::u16string name;
    uint32_t size = 0;
    uint32_t reserved = 0;
    bool paddedWithZeros = true;  // every unit behind the name's NUL
    Bytes data;
};

struct ReadBack {
    uint8_t nameBytes = 0;
    uint8_t versionBytes = 0;
    std::u16string name;
    std::u16string version;
    std::vector<ReadEntry> entries;
    size_t end = 0;  // behind the last file's data
};

std::u16string CountedText(const Bytes& file, size_t& at, uint8_t& count)
{
    count = file.at(at);
    at += layout::kTextCountSize;
    std::u16string text;
    for (size_t i = 0; i + 1 < count; i += 2)
        text.push_back(static_cast<char16_t>(U16At(file, at + i)));
    at += count;
    return text;
}

ReadBack ReadAsTheUpdater(const Bytes& file, size_t at)
{
    ReadBack read;
    read.name = CountedText(file, at, read.nameBytes);
    read.version = CountedText(file, at, read.versionBytes);
    uint32_t count = U32At(file, at);
    at += layout::kEntryCountSize;
    size_t data = at + size_t(count) * layout::kRecordSize;
    for (uint32_t i = 0; i < count; ++i, at += layout::kRecordSize) {
        ReadEntry entry;
        size_t unit = 0;
        for (; unit < layout::kFileNameUnits; ++unit) {
            char16_t c = static_cast<char16_t>(U16At(file, at + layout::kFileNameOffset + 2 * unit));
            if (c == 0)
                break;
            entry.name.push_back(c);
        }
        for (; unit < layout::kFileNameUnits; ++unit)
            entry.paddedWithZeros = entry.paddedWithZeros && U16At(file, at + layout::kFileNameOffset + 2 * unit) == 0;
        entry.size = U32At(file, at + layout::kFileSizeOffset);
        entry.reserved = U32At(file, at + layout::kReservedOffset);
        entry.data = Bytes(file.begin() + data, file.begin() + data + entry.size);
        data += entry.size;
        read.entries.push_back(std::move(entry));
    }
    read.end = data;
    return read;
}

struct Carried {
    std::string diskName;  // UTF-8
    std::u16string name;   // as the table must hold it
    Bytes data;
};

TEST(PayloadLayout, ReadsBackWhatThePackerWritesInEitherFlavour)
{
    struct Stub {
        const char* what;
        Bytes image;
        const layout::ImageFlavour& flavour;
        size_t payloadOffset;
    };
    // The section furthest into the file is not the last one in the table, so a reader that
    // took the last section, or another flavour's table distance, would look elsewhere.
    const Stub stubs[] = {
        {"PE32", packtest::MakeImage({{0x200, 0x200}, {0x800, 0x200}, {0x400, 0x400}}), layout::kPe32, 0xA00},
        {"PE32+", packtest::MakeImage64({{0x400, 0x600}, {0xC00, 0x200}, {0xA00, 0x200}}), layout::kPe32Plus, 0xE00},
    };
    const std::vector<Carried> files = {
        {"Update-KB1.msp", u"Update-KB1.msp", packtest::MakePatch("{A1};{B2}", 700)},
        {"empty.bin", u"empty.bin", {}},
        {"Pr\xC3\xBC"
         "fung \xE2\x9C\x93.bin",
         u"Pr\u00FCfung \u2713.bin",
         {1, 2, 3, 0, 0xFF}},
        {"\xF0\x9F\x98\x80.bin", u"\U0001F600.bin", {9}},
    };
    // The longest texts a payload stores, one of them outside the BMP.
    const std::u16string name(layout::kMaxTextUnits, u'N');
    const std::u16string version = u"10.2 \U0001F600" + std::u16string(layout::kMaxTextUnits - 7, u'9');
    ASSERT_EQ(version.size(), layout::kMaxTextUnits);

    for (const Stub& stub : stubs) {
        SCOPED_TRACE(stub.what);
        packtest::ScratchFolder folder;
        pack::BuildRequest request;
        request.stub = folder.Write("stub.exe", stub.image);
        request.name = std::string(layout::kMaxTextUnits, 'N');
        request.version = "10.2 \xF0\x9F\x98\x80" + std::string(layout::kMaxTextUnits - 7, '9');
        request.output = folder / "updater.exe";
        request.allowAnyFile = true;
        for (const Carried& file : files)
            request.files.push_back(folder.Write(file.diskName, file.data));
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(pack::BuildUpdater(request, warnings, error)) << error;
        Bytes updater = packtest::ReadAll(request.output);

        size_t p = PayloadOffset(updater, stub.flavour);
        ASSERT_EQ(p, stub.payloadOffset);
        ReadBack read = ReadAsTheUpdater(updater, p);
        EXPECT_EQ(read.nameBytes, 2 * layout::kMaxTextUnits);
        EXPECT_EQ(read.versionBytes, 2 * layout::kMaxTextUnits);
        EXPECT_EQ(read.name, name);
        EXPECT_EQ(read.version, version);
        ASSERT_EQ(read.entries.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(read.entries[i].name, files[i].name);
            EXPECT_TRUE(read.entries[i].paddedWithZeros);
            EXPECT_EQ(read.entries[i].size, files[i].data.size());
            EXPECT_EQ(read.entries[i].reserved, 0u);
            EXPECT_EQ(read.entries[i].data, files[i].data);
        }
        EXPECT_EQ(read.end, updater.size());  // nothing behind the last file
    }
}

}  // namespace
