// The one property of the toolchain's strsafe that the program's texts rest on and that a
// build setting can change: in a wide format, %s takes a wide string. A change of stdio
// flavour (__USE_MINGW_ANSI_STDIO) would turn it narrow and garble every formatted message.
#include <gtest/gtest.h>

#include <strsafe.h>

#include <string>

TEST(BoundedText, WidePercentSFormatsAWideStringAndATextTooLongIsCut)
{
    wchar_t buffer[512];
    ASSERT_EQ(StringCchPrintfW(buffer, 512, L"This utility will update your %s to version %s.", L"A", L"1.2"), S_OK);
    EXPECT_STREQ(buffer, L"This utility will update your A to version 1.2.");

    EXPECT_EQ(StringCchPrintfW(buffer, 512, L"Installing update '%s' for '%s'.", std::wstring(600, L'd').c_str(), L"P"),
              STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(buffer), L"Installing update '" + std::wstring(492, L'd'));
}

TEST(BoundedText, DestinationSizeZeroIsRejected)
{
    wchar_t buffer[4] = L"abc";
    EXPECT_EQ(StringCchPrintfW(buffer, 0, L"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_STREQ(buffer, L"abc");
}
