// UTF conversion, Windows file-name rules and SHA-256: the small pieces every check rests on.
#include "FileName.h"
#include "FileNameCases.h"
#include "Sha256.h"
#include "Utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, DecodesEveryLengthOfSequence)
{
    std::u16string out;
    ASSERT_TRUE(pack::Utf8ToUtf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", out));
    EXPECT_EQ(out, u"A\u00E9\u20AC\U0001F600");
    EXPECT_EQ(pack::Utf16ToUtf8(out), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(Utf8, RefusesMalformedText)
{
    const char* bad[] = {
        "\x80",              // lone continuation byte
        "\xC3",              // cut-off sequence
        "\xC3\x28",          // continuation missing
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xED\xA0\x80",      // surrogate U+D800
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xFF",
    };
    for (const char* text : bad) {
        std::u16string out;
        EXPECT_FALSE(pack::Utf8ToUtf16(text, out)) << text;
    }
}

TEST(Utf16, ShowsUnpairedSurrogatesAsReplacementCharacters)
{
    std::u16string text = {u'a', char16_t(0xD800), u'b'};
    EXPECT_EQ(pack::Utf16ToUtf8(text),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(WindowsFileName, AgreesWithTheUpdaterOnEveryCaseOfTheSharedTable)
{
    for (const sharedcases::FileNameCase& c : sharedcases::FileNameCases()) {
        std::string reason = pack::CheckWindowsFileName(c.name);
        if (*c.refusal == 0)
            EXPECT_EQ(reason, "") << pack::Utf16ToUtf8(c.name);
        else
            EXPECT_NE(reason.find(c.refusal), std::string::npos) << pack::Utf16ToUtf8(c.name) << ": " << reason;
    }
}

TEST(WindowsFileName, ComparesWithoutRegardToCase)
{
    EXPECT_TRUE(pack::SameWindowsFileName(u"Update.MSP", u"uPDATE.msp"));
    EXPECT_TRUE(pack::SameWindowsFileName(u"\u00E9t\u00E9.msp", u"\u00C9T\u00C9.MSP"));
    EXPECT_TRUE(pack::SameWindowsFileName(u"\u0436.msp", u"\u0416.msp"));  // Cyrillic zhe
    EXPECT_TRUE(pack::SameWindowsFileName(u"\u0142.msp", u"\u0141.msp"));  // Polish l
    EXPECT_TRUE(pack::SameWindowsFileName(u"\u03C2.msp", u"\u03A3.msp"));  // final sigma
    EXPECT_FALSE(pack::SameWindowsFileName(u"a.msp", u"b.msp"));
    EXPECT_FALSE(pack::SameWindowsFileName(u"a.msp", u"a.msp "));
    EXPECT_FALSE(pack::SameWindowsFileName(u"\u00F7.msp", u"\u00D7.msp"));  // not a case pair
}

std::string Hash(const std::string& text)
{
    pack::Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return hash.FinishHex();
}

TEST(Sha256, MatchesTheStandardVectors)
{
    EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // 56 bytes is the first length whose padding needs a second block.
    EXPECT_EQ(Hash(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Hash(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
}

TEST(Sha256, GivesTheSameDigestHoweverTheInputIsSplit)
{
    std::string million(1000000, 'a');
    for (size_t piece : {1u, 63u, 64u, 65u, 4096u, 1000000u}) {
        pack::Sha256 hash;
        for (size_t at = 0; at < million.size(); at += piece)
            hash.Update(reinterpret_cast<const uint8_t*>(million.data()) + at, std::min(piece, million.size() - at));
        EXPECT_EQ(hash.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0") << piece;
    }
}

}  // namespace
