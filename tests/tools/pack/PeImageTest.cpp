// The payload offset as the updater computes it (the cases shared with the updater's tests),
// the stubs the packer refuses, and the header facts the rest of the packer takes from the
// parser: the section table, addresses mapped to the file, and the data directories.
#include "PeImage.h"
#include "InputFile.h"
#include "PayloadOffsetCases.h"
#include "TestFiles.h"
#include "VersionResource.h"

#include <gtest/gtest.h>

namespace {

using packtest::MakeImage;
using packtest::Section;

bool Parse(const packtest::Bytes& image, pack::PeInfo& info, std::string& error)
{
    pack::InputFile input(image.data(), image.size());
    return pack::ReadPeHeaders(input, info, error);
}

TEST(PayloadOffset, AgreesWithTheUpdaterOnEveryCaseOfTheSharedTable)
{
    for (const sharedcases::PayloadOffsetCase& c : sharedcases::PayloadOffsetCases()) {
        std::vector<uint8_t> image = sharedcases::MakeCaseImage(c);
        pack::PeInfo info;
        std::string error;
        ASSERT_TRUE(Parse(image, info, error)) << c.what << ": " << error;
        EXPECT_EQ(info.payloadOffset, c.payloadOffset) << c.what;
        EXPECT_EQ(info.lastSection, c.lastSection) << c.what;
        EXPECT_EQ(info.ntOffset, c.ntOffset) << c.what;
    }
}

TEST(PayloadOffset, ReadsTheSecurityDirectory)
{
    packtest::Bytes image = MakeImage(0x1000);
    packtest::PutU32At(image, packtest::kSecurityDirectory, 0x1008);
    packtest::PutU32At(image, packtest::kSecurityDirectory + 4, 0x300);
    pack::PeInfo info;
    std::string error;
    ASSERT_TRUE(Parse(image, info, error)) << error;
    EXPECT_EQ(info.certificateOffset, 0x1008u);
    EXPECT_EQ(info.certificateSize, 0x300u);
}

TEST(PayloadOffset, ReadsPe32PlusImagesAtTheirOwnDistances)
{
    // The x64 updater takes its section table 264 bytes behind the NT headers and its data
    // directories 16 bytes further than PE32; reading it as PE32 gives a garbage offset.
    packtest::Bytes image = packtest::MakeImage64({{0x400, 0x200}, {0x800, 0x600}});
    packtest::PutU32At(image, packtest::kSecurityDirectory64, 0xE00);
    packtest::PutU32At(image, packtest::kSecurityDirectory64 + 4, 0x80);
    pack::PeInfo info;
    std::string error;
    ASSERT_TRUE(Parse(image, info, error)) << error;
    EXPECT_EQ(info.machine, pack::PeMachine::X64);
    EXPECT_EQ(info.payloadOffset, 0xE00u);
    EXPECT_EQ(info.lastSection, 1u);
    EXPECT_EQ(info.certificateOffset, 0xE00u);
    EXPECT_EQ(info.certificateSize, 0x80u);

    ASSERT_TRUE(Parse(packtest::MakeImage(0x1000), info, error)) << error;
    EXPECT_EQ(info.machine, pack::PeMachine::X86);
}

TEST(PayloadOffset, RefusesImagesTheUpdaterCannotBe)
{
    packtest::Bytes good = MakeImage(0x1000);
    struct Case {
        const char* what;
        packtest::Bytes image;
        const char* reason;
    } cases[] = {
        {"empty file", {}, "no MZ header"},
        {"text file", packtest::Bytes(200, 'x'), "no MZ header"},
        {"MZ without PE", packtest::Bytes(good.begin(), good.begin() + 0x40), "no PE signature"},
        {"PE32+ with a PE32-sized optional header", MakeImage({{0x200, 0x200}}, 0x20B, 224),
         "224-byte optional header instead of 240"},
        {"PE32 with a PE32+-sized optional header", MakeImage({{0x200, 0x200}}, 0x10B, 240),
         "240-byte optional header instead of 224"},
        {"ROM image", MakeImage({{0x200, 0x200}}, 0x107), "magic 0x107"},
        {"short optional header", MakeImage({{0x200, 0x200}}, 0x10B, 96), "96-byte optional header"},
        {"no sections", MakeImage(std::vector<Section>{}), "without sections"},
        {"cut in section table", packtest::Bytes(good.begin(), good.begin() + 0x40 + 248 + 50), "section table"},
    };
    for (const Case& c : cases) {
        pack::PeInfo info;
        std::string error;
        EXPECT_FALSE(Parse(c.image, info, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PayloadOffset, MustFitTheUpdatersSignedSeek)
{
    packtest::Bytes image = MakeImage({{0x200, 0x200}});
    size_t header = 0x40 + 248;
    packtest::PutU32At(image, header + 20, 0x7FFFF000);
    packtest::PutU32At(image, header + 16, 0xFFF);
    pack::PeInfo info;
    std::string error;
    EXPECT_TRUE(Parse(image, info, error)) << error;
    EXPECT_EQ(info.payloadOffset, 0x7FFFFFFFu);
    packtest::PutU32At(image, header + 16, 0x1000);
    EXPECT_FALSE(Parse(image, info, error));
    EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
    // The sum is taken without the 32-bit wrap-around the updater would suffer.
    packtest::PutU32At(image, header + 20, 0xFFFFFE00);
    packtest::PutU32At(image, header + 16, 0x400);
    EXPECT_FALSE(Parse(image, info, error));
}

TEST(PayloadOffset, BoundsAHostileHeaderOffset)
{
    packtest::Bytes image = MakeImage(0x1000);
    packtest::PutU32At(image, 0x3C, 0xFFFFFF00);
    pack::PeInfo info;
    std::string error;
    EXPECT_FALSE(Parse(image, info, error));
}

// MakeImage's section table and the fields of one section header in it.
constexpr size_t kSectionTable = 0x40 + 248;
constexpr size_t kVirtualSize = 8, kVirtualAddress = 12;
// Data directory 2 (resources) and the directory count of an image made by MakeImage.
constexpr size_t kResourceDirectory = 0x40 + 24 + 96 + 16;
constexpr size_t kDirectoryCount = 0x40 + 24 + 92;

TEST(SectionTable, HoldsEachSectionsAddressesAndRawDataInBothFlavours)
{
    // Virtual sizes differ from raw sizes, so that no field can stand in for another.
    for (bool plus : {false, true}) {
        std::vector<Section> layout = {{0x400, 0x200}, {0x600, 0xA00}};
        packtest::Bytes image = plus ? packtest::MakeImage64(layout) : MakeImage(layout);
        size_t table = plus ? 0x40 + 264 : kSectionTable;
        packtest::PutU32At(image, table + kVirtualSize, 0x1234);
        packtest::PutU32At(image, table + 40 + kVirtualSize, 0x5678);
        pack::PeInfo info;
        std::string error;
        ASSERT_TRUE(Parse(image, info, error)) << error;
        ASSERT_EQ(info.sections.size(), 2u);
        EXPECT_EQ(info.sections[0].virtualAddress, 0x1000u);
        EXPECT_EQ(info.sections[0].virtualSize, 0x1234u);
        EXPECT_EQ(info.sections[0].rawPointer, 0x400u);
        EXPECT_EQ(info.sections[0].rawSize, 0x200u);
        EXPECT_EQ(info.sections[1].virtualAddress, 0x2000u);
        EXPECT_EQ(info.sections[1].virtualSize, 0x5678u);
        EXPECT_EQ(info.sections[1].rawPointer, 0x600u);
        EXPECT_EQ(info.sections[1].rawSize, 0xA00u);
    }
}

TEST(SectionTable, MapsAnAddressOnlyWhenOneSectionsRawDataHoldItWhole)
{
    // Section 0: RVA 0x1000, raw data 0x200 bytes at 0x200, but 0x800 bytes in memory.
    // Section 1: RVA 0x2000, raw data 0x400 bytes at 0x400. Section 2 sits at the top of the
    // 32-bit address space, where a 32-bit sum would wrap.
    packtest::Bytes image = MakeImage({{0x200, 0x200}, {0x400, 0x400}, {0x800, 0x100}});
    packtest::PutU32At(image, kSectionTable + kVirtualSize, 0x800);
    packtest::PutU32At(image, kSectionTable + 80 + kVirtualAddress, 0xFFFFFF00);
    pack::PeInfo info;
    std::string error;
    ASSERT_TRUE(Parse(image, info, error)) << error;
    struct Case {
        const char* what;
        uint64_t rva, size;
        bool mapped;
        uint64_t offset;
    } cases[] = {
        {"a section's first byte", 0x1000, 4, true, 0x200},
        {"a section's last raw bytes", 0x11FC, 4, true, 0x3FC},
        {"bytes across the end of the raw data", 0x11FE, 4, false, 0},
        {"bytes only in memory (zero-filled by the loader)", 0x1300, 4, false, 0},
        {"the headers, in front of every section", 0x10, 4, false, 0},
        {"the second section's start", 0x2000, 16, true, 0x400},
        {"the second section whole", 0x2000, 0x400, true, 0x400},
        {"one byte more than the second section", 0x2000, 0x401, false, 0},
        {"between two sections", 0x3000, 4, false, 0},
        {"the top of the address space", 0xFFFFFFFC, 4, true, 0x8FC},
        {"past the top of the address space", 0xFFFFFFFC, 8, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t offset = 0;
        EXPECT_EQ(pack::RvaToFileOffset(info, c.rva, c.size, offset), c.mapped) << c.what;
        if (c.mapped) {
            EXPECT_EQ(offset, c.offset) << c.what;
        }
    }
}

TEST(DataDirectories, ReadOnlyTheDirectoriesTheImageCounts)
{
    packtest::Bytes image = MakeImage(0x1000);
    packtest::PutU32At(image, kResourceDirectory, 0x2000);
    packtest::PutU32At(image, packtest::kSecurityDirectory, 0x1000);
    packtest::PutU32At(image, packtest::kSecurityDirectory + 4, 0x80);
    struct Case {
        uint32_t count;
        uint32_t resourceRva, certificateOffset;
    } cases[] = {{16, 0x2000, 0x1000}, {5, 0x2000, 0x1000}, {4, 0x2000, 0}, {3, 0x2000, 0}, {2, 0, 0}, {0, 0, 0}};
    for (const Case& c : cases) {
        packtest::PutU32At(image, kDirectoryCount, c.count);
        pack::PeInfo info;
        std::string error;
        ASSERT_TRUE(Parse(image, info, error)) << error;
        EXPECT_EQ(info.resourceRva, c.resourceRva) << c.count << " directories";
        EXPECT_EQ(info.certificateOffset, c.certificateOffset) << c.count << " directories";
        // Signing tools skip the checksum and the certificate entry whatever the count says.
        EXPECT_EQ(info.checksumOffset, 0x40u + 24 + 64) << c.count << " directories";
        EXPECT_EQ(info.certificateDirectoryOffset, packtest::kSecurityDirectory) << c.count << " directories";
    }
}

TEST(DataDirectories, FollowTheNtHeadersWhereverTheyLie)
{
    for (const sharedcases::PayloadOffsetCase& c : sharedcases::PayloadOffsetCases()) {
        std::vector<uint8_t> image = sharedcases::MakeCaseImage(c);
        pack::PeInfo info;
        std::string error;
        ASSERT_TRUE(Parse(image, info, error)) << c.what << ": " << error;
        bool plus = info.machine == pack::PeMachine::X64;
        EXPECT_EQ(info.checksumOffset, c.ntOffset + 24 + 64u) << c.what;
        EXPECT_EQ(info.certificateDirectoryOffset, c.ntOffset + 24 + (plus ? 144u : 128u)) << c.what;
    }
}

TEST(DataDirectories, AResourceDirectoryNoSectionHoldsGivesNoVersion)
{
    // The first section is 0x800 bytes long in memory but has only 0x200 in the file.
    for (uint32_t rva : {0x10u, 0x1400u, 0x3000u, 0xFFFFFFF8u}) {
        packtest::Bytes image = MakeImage({{0x200, 0x200}, {0x400, 0x400}});
        packtest::PutU32At(image, kSectionTable + kVirtualSize, 0x800);
        packtest::PutU32At(image, kResourceDirectory, rva);
        packtest::PutU32At(image, kResourceDirectory + 4, 0x100);
        pack::PeInfo info;
        std::string error;
        ASSERT_TRUE(Parse(image, info, error)) << error;
        uint64_t offset = 0;
        EXPECT_FALSE(pack::RvaToFileOffset(info, rva, 16, offset)) << std::hex << rva;
        pack::InputFile input(image.data(), image.size());
        EXPECT_FALSE(pack::ReadVersionResource(input, info).found) << std::hex << rva;
    }
}

}  // namespace
