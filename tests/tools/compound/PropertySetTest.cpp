// Property sets: what WriteProperties writes reads back, and malformed streams are refused.
#include "PropertySet.h"

#include <gtest/gtest.h>

namespace {

std::vector<compound::Property> Sample()
{
    std::vector<compound::Property> p(5);
    p[0].id = compound::PID_CODEPAGE, p[0].type = compound::VT_I2, p[0].integer = 1252;
    p[1].id = compound::PID_TEMPLATE, p[1].type = compound::VT_LPSTR, p[1].text = "{A};{B}";
    p[2].id = compound::PID_LASTAUTHOR, p[2].type = compound::VT_LPSTR, p[2].text = ":T1;:#T1";
    p[3].id = compound::PID_CHARCOUNT, p[3].type = compound::VT_I4, p[3].integer = 0x080A;
    p[4].id = 12, p[4].type = compound::VT_FILETIME, p[4].fileTime = 0x01D9000012345678ull;
    return p;
}

TEST(PropertySet, ReadsBackWhatWasWritten)
{
    std::vector<uint8_t> stream = compound::WriteProperties(Sample());
    std::vector<compound::Property> read;
    std::string error;
    ASSERT_TRUE(compound::ReadProperties(stream, read, &error)) << error;
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read[0].integer, 1252);
    EXPECT_EQ(read[1].text, "{A};{B}");
    EXPECT_EQ(read[2].text, ":T1;:#T1");
    EXPECT_EQ(read[3].type, compound::VT_I4);
    EXPECT_EQ(read[3].integer, 0x080A);
    EXPECT_EQ(read[4].fileTime, 0x01D9000012345678ull);
    std::string text;
    ASSERT_TRUE(compound::ReadStringProperty(stream, compound::PID_LASTAUTHOR, text, &error)) << error;
    EXPECT_EQ(text, ":T1;:#T1");
}

TEST(PropertySet, RefusesEveryTruncation)
{
    std::vector<uint8_t> stream = compound::WriteProperties(Sample());
    for (size_t length = 0; length < stream.size() - 3; length++) {
        std::vector<uint8_t> cut(stream.begin(), stream.begin() + long(length));
        std::vector<compound::Property> read;
        std::string error;
        EXPECT_FALSE(compound::ReadProperties(cut, read, &error)) << length;
    }
}

TEST(PropertySet, RefusesAStringLongerThanTheStream)
{
    std::vector<uint8_t> stream = compound::WriteProperties(Sample());
    // The first string's length field: header 48 + section header 8 + table 40 + codepage 8 + type 4.
    stream[48 + 8 + 40 + 8 + 4 + 3] = 0x7F;
    std::string text, error;
    EXPECT_FALSE(compound::ReadStringProperty(stream, compound::PID_TEMPLATE, text, &error));
}

}  // namespace
