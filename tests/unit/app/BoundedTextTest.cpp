// The bounded-text rules the program relies on, checked against the toolchain's strsafe:
// wide %s, silent cutting to size - 1 with a terminator, and the length limit. A change of
// stdio flavour that turned %s narrow would break every formatted message; this catches it.
#include <gtest/gtest.h>

#include <strsafe.h>

#include <string>

#include "StringTable.h"
#include "resource.h"

TEST(BoundedText, WidePercentSFormatsAWideString)
{
    wchar_t buffer[512];
    ASSERT_EQ(StringCchPrintfW(buffer, 512, L"This utility will update your %s to version %s.", L"A", L"1.2"), S_OK);
    EXPECT_STREQ(buffer, L"This utility will update your A to version 1.2.");
    ASSERT_EQ(StringCchPrintfW(buffer, 512, L"MsiApplyPatch failed with error=%u", 1603u), S_OK);
    EXPECT_STREQ(buffer, L"MsiApplyPatch failed with error=1603");
    ASSERT_EQ(StringCchPrintfW(buffer, 512, L"%02hu:%02hu:%02hu.%03hu", static_cast<unsigned short>(1),
                               static_cast<unsigned short>(2), static_cast<unsigned short>(3),
                               static_cast<unsigned short>(4)),
              S_OK);
    EXPECT_STREQ(buffer, L"01:02:03.004");
}

TEST(BoundedText, PrintfCutsToSizeMinusOneAndTerminates)
{
    wchar_t small[20];
    EXPECT_EQ(StringCchPrintfW(small, 20, L"%s", std::wstring(19, L'a').c_str()), S_OK);
    EXPECT_EQ(std::wstring(small), std::wstring(19, L'a'));
    EXPECT_EQ(StringCchPrintfW(small, 20, L"%s", std::wstring(20, L'b').c_str()), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(small), std::wstring(19, L'b'));

    wchar_t large[512];
    EXPECT_EQ(StringCchPrintfW(large, 512, L"x%s", std::wstring(510, L'c').c_str()), S_OK);
    EXPECT_EQ(wcslen(large), 511u);
    EXPECT_EQ(StringCchPrintfW(large, 512, L"Installing update '%s' for '%s'.", std::wstring(600, L'd').c_str(), L"P"),
              STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(large), L"Installing update '" + std::wstring(492, L'd'));
}

TEST(BoundedText, DestinationSizeZeroOrHugeIsRejected)
{
    wchar_t buffer[4] = L"abc";
    EXPECT_EQ(StringCchPrintfW(buffer, 0, L"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_EQ(StringCchCopyW(buffer, 0, L"x"), STRSAFE_E_INVALID_PARAMETER);
}

TEST(BoundedText, CopyCutsAndLengthStopsAtTheMaximum)
{
    wchar_t path[260];
    std::wstring long260(260, L'p');
    EXPECT_EQ(StringCchCopyW(path, 260, std::wstring(259, L'p').c_str()), S_OK);
    EXPECT_EQ(wcslen(path), 259u);
    EXPECT_EQ(StringCchCopyW(path, 260, long260.c_str()), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wcslen(path), 259u);

    size_t length = 99;
    EXPECT_EQ(StringCchLengthW(std::wstring(259, L'q').c_str(), 260, &length), S_OK);
    EXPECT_EQ(length, 259u);
    EXPECT_EQ(StringCchLengthW(long260.c_str(), 260, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthW(nullptr, 260, &length), STRSAFE_E_INVALID_PARAMETER);
}

TEST(StringTable, HoldsTheSevenTextsAndNothingAround)
{
    EXPECT_EQ(LoadResString(IDS_APPLYING_UPDATES), L"Applying updates...");
    EXPECT_EQ(LoadResString(IDS_CLOSE), L"Close");
    EXPECT_EQ(LoadResString(IDS_FINISHED), L"Finished updating.");
    EXPECT_EQ(LoadResString(IDS_FAILED), L"Update failed.");
    EXPECT_EQ(LoadResString(IDS_INTRO_FORMAT), L"This utility will update your %s to version %s.");
    EXPECT_EQ(LoadResString(IDS_EMPTY_UPDATER),
              L"Error: either the updater is empty, or the contained update data are inaccessible.");
    EXPECT_EQ(LoadResString(IDS_INSTALLING_FORMAT), L"Installing update '%s' for '%s'.");
    EXPECT_EQ(LoadResString(103), L"");
    EXPECT_EQ(LoadResString(111), L"");
}
