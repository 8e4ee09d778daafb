// The payload's bytes: the documented example layout, and reading back what is written.
#include "PayloadFormat.h"

#include <gtest/gtest.h>

namespace {

using pack::Bytes;

uint32_t U32At(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

TEST(PayloadHeader, MatchesTheExampleLayoutByteForByte)
{
    std::u16string name = u"Tessarvane Example 10";  // 21 characters
    std::u16string version = u"10.2.0.31415";        // 12 characters
    ASSERT_EQ(name.size(), 21u);
    ASSERT_EQ(version.size(), 12u);
    Bytes header = pack::EncodePayloadHeader(name, version, {{u"Update-KB1.msp", 0x4F9000}});

    ASSERT_EQ(header.size(), 0x258u);  // the file's data begin at 0x258
    EXPECT_EQ(header[0x0], 42);
    EXPECT_EQ(header[0x1], 'T');
    EXPECT_EQ(header[0x2], 0);
    EXPECT_EQ(header[0x29], '0');  // last unit of the name ends at 0x2A
    EXPECT_EQ(header[0x2A], 0);
    EXPECT_EQ(header[0x2B], 24);
    EXPECT_EQ(header[0x2C], '1');
    EXPECT_EQ(header[0x42], '5');
    EXPECT_EQ(header[0x43], 0);
    EXPECT_EQ(U32At(header, 0x44), 1u);
    EXPECT_EQ(header[0x48], 'U');
    EXPECT_EQ(header[0x48 + 2 * 13], 'p');
    for (size_t at = 0x48 + 2 * 14; at < 0x250; ++at)
        ASSERT_EQ(header[at], 0) << at;
    EXPECT_EQ(U32At(header, 0x250), 0x4F9000u);
    EXPECT_EQ(U32At(header, 0x254), 0u);
    // Behind an image ending at 0xFAA00 the payload ends at 0x5F3C58.
    EXPECT_EQ(0xFAA00u + header.size() + 0x4F9000u, 0x5F3C58u);
}

TEST(PayloadHeader, ReadsBackWhatWasWritten)
{
    std::vector<pack::PayloadEntry> entries = {{u"a.msp", 3}, {u"\u00E9t\u00E9.msp", 0}, {u"c.msp", 2}};
    Bytes file(0x100, 0xEE);
    Bytes header = pack::EncodePayloadHeader(u"Name", u"", entries);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), {1, 2, 3, 4, 5});
    pack::InputFile input(file.data(), file.size());
    pack::PayloadLayout layout;
    std::string error;
    ASSERT_TRUE(pack::ReadPayload(input, 0x100, layout, error)) << error;
    EXPECT_EQ(layout.name, u"Name");
    EXPECT_EQ(layout.version, u"");
    ASSERT_EQ(layout.records.size(), 3u);
    EXPECT_EQ(layout.records[1].fileName, u"\u00E9t\u00E9.msp");
    EXPECT_EQ(layout.records[0].dataOffset, 0x100 + header.size());
    EXPECT_EQ(layout.records[1].dataOffset, 0x100 + header.size() + 3);
    EXPECT_EQ(layout.records[2].dataOffset, 0x100 + header.size() + 3);
    EXPECT_EQ(layout.end, file.size());
}

TEST(PayloadHeader, ReadsOddLengthsAndUnterminatedNamesAsTheUpdaterWould)
{
    Bytes file = {3, 'A', 0, 'x', 0, 1, 0, 0, 0};
    Bytes record(528, 'n');  // no NUL anywhere in the name field
    record[520] = 0, record[521] = 0, record[522] = 0, record[523] = 0;
    record[524] = 7, record[525] = 0, record[526] = 0, record[527] = 0;
    file.insert(file.end(), record.begin(), record.end());
    pack::InputFile input(file.data(), file.size());
    pack::PayloadLayout layout;
    std::string error;
    ASSERT_TRUE(pack::ReadPayload(input, 0, layout, error)) << error;
    EXPECT_EQ(layout.nameBytes, 3);
    EXPECT_EQ(layout.name, u"A");
    EXPECT_EQ(layout.version, u"");
    ASSERT_EQ(layout.records.size(), 1u);
    EXPECT_FALSE(layout.records[0].terminated);
    EXPECT_EQ(layout.records[0].fileName.size(), 260u);
    EXPECT_EQ(layout.records[0].reserved, 7u);
}

TEST(PayloadHeader, RefusesEveryCutOffPayload)
{
    Bytes header = pack::EncodePayloadHeader(u"N", u"V", {{u"a.msp", 4}});
    Bytes full = header;
    full.insert(full.end(), {1, 2, 3, 4});
    for (size_t length = 0; length < full.size(); ++length) {
        pack::InputFile input(full.data(), length);
        pack::PayloadLayout layout;
        std::string error;
        EXPECT_FALSE(pack::ReadPayload(input, 0, layout, error)) << length;
        EXPECT_FALSE(error.empty());
    }
}

TEST(PayloadHeader, RefusesATableLargerThanTheFileWithoutAllocatingIt)
{
    Bytes file = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    pack::InputFile input(file.data(), file.size());
    pack::PayloadLayout layout;
    std::string error;
    EXPECT_FALSE(pack::ReadPayload(input, 0, layout, error));
    EXPECT_NE(error.find("4294967295 entries"), std::string::npos) << error;
}

}  // namespace
