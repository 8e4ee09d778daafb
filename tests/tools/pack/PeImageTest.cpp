// The payload offset as the updater computes it (the cases shared with the updater's tests),
// and the stubs the packer refuses.
#include "PeImage.h"
#include "InputFile.h"
#include "PayloadOffsetCases.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

using packtest::MakeImage;
using packtest::Section;

bool Parse(const packtest::Bytes& image, pack::PeInfo& info, std::string& error) {
    pack::InputFile input(image.data(), image.size());
    return pack::ReadPeHeaders(input, info, error);
}

TEST(PayloadOffset, AgreesWithTheUpdaterOnEveryCaseOfTheSharedTable) {
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

TEST(PayloadOffset, ReadsTheSecurityDirectory) {
    packtest::Bytes image = MakeImage(0x1000);
    packtest::PutU32At(image, packtest::kSecurityDirectory, 0x1008);
    packtest::PutU32At(image, packtest::kSecurityDirectory + 4, 0x300);
    pack::PeInfo info;
    std::string error;
    ASSERT_TRUE(Parse(image, info, error)) << error;
    EXPECT_EQ(info.certificateOffset, 0x1008u);
    EXPECT_EQ(info.certificateSize, 0x300u);
}

TEST(PayloadOffset, ReadsPe32PlusImagesAtTheirOwnDistances) {
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

TEST(PayloadOffset, RefusesImagesTheUpdaterCannotBe) {
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
        {"cut in section table", packtest::Bytes(good.begin(), good.begin() + 0x40 + 248 + 50),
         "section table"},
    };
    for (const Case& c : cases) {
        pack::PeInfo info;
        std::string error;
        EXPECT_FALSE(Parse(c.image, info, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PayloadOffset, MustFitTheUpdatersSignedSeek) {
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

TEST(PayloadOffset, BoundsAHostileHeaderOffset) {
    packtest::Bytes image = MakeImage(0x1000);
    packtest::PutU32At(image, 0x3C, 0xFFFFFF00);
    pack::PeInfo info;
    std::string error;
    EXPECT_FALSE(Parse(image, info, error));
}

}  // namespace
