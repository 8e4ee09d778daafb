// The result file's own JSON writer and SHA-256: escapes and UTF-8 for every kind of UTF-16
// text that file and product names can hold, the document's shape, and digests against the
// standard's test vectors, fed whole and in pieces.
#include <gtest/gtest.h>

#include <string>

#include "JsonWriter.h"
#include "Sha256.h"

namespace {

std::string Text(const JsonWriter& json)
{
    return std::string(json.Data(), json.Size());
}

// The string value as the writer puts it into an array.
std::string Encoded(const std::wstring& text)
{
    JsonWriter json;
    json.BeginArray(nullptr);
    json.String(nullptr, text.data(), text.size());
    json.EndArray();
    std::string document = Text(json);
    // "[\n  VALUE\n]\n"
    return document.substr(4, document.size() - 7);
}

std::string Hex(const uint8_t (&digest)[32])
{
    std::string hex;
    for (uint8_t byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

}  // namespace

TEST(JsonWriter, EscapesQuotesBackslashesAndEveryControlCharacter)
{
    struct Case {
        std::wstring text;
        std::string json;
    } cases[] = {
        {L"", "\"\""},
        {L"plain name.msp", "\"plain name.msp\""},
        {L"say \"hi\"", "\"say \\\"hi\\\"\""},
        {L"C:\\Logs\\", "\"C:\\\\Logs\\\\\""},
        {L"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {std::wstring(L"a\0b", 3), "\"a\\u0000b\""},
        {L"\x01\x0b\x1f", "\"\\u0001\\u000b\\u001f\""},
        {L" ~\x7f/", "\" ~\x7f/\""},  // DEL and the slash need no escape
    };
    for (const Case& c : cases)
        EXPECT_EQ(Encoded(c.text), c.json) << c.json;
}

TEST(JsonWriter, WritesUtf8ForEveryPlaneAndEscapesSurrogatesWithoutAPartner)
{
    struct Case {
        std::wstring text;
        std::string json;
    } cases[] = {
        {L"\u00e9", "\"\xc3\xa9\""},                   // two bytes
        {L"\u20ac\u2713", "\"\xe2\x82\xac\xe2\x9c\x93\""},  // three bytes
        {L"\xffff", "\"\xef\xbf\xbf\""},               // the last BMP code point
        {L"\xd83d\xde00", "\"\xf0\x9f\x98\x80\""},     // a pair: U+1F600, four bytes
        {L"\xdbff\xdfff", "\"\xf4\x8f\xbf\xbf\""},     // U+10FFFF
        {L"a\xd800", "\"a\\ud800\""},                  // high surrogate at the end
        {L"\xd800z", "\"\\ud800z\""},                  // high surrogate before a non-surrogate
        {L"\xdc00z", "\"\\udc00z\""},                  // low surrogate alone
        {L"\xdc00\xd800", "\"\\udc00\\ud800\""},       // a pair in the wrong order
        {L"\xd800\xd800\xdc00", "\"\\ud800\xf0\x90\x80\x80\""},  // a lone high, then a pair
    };
    for (const Case& c : cases)
        EXPECT_EQ(Encoded(c.text), c.json) << c.json;
}

TEST(JsonWriter, LaysOutNestedMembersOneToALine)
{
    JsonWriter json;
    json.BeginObject();
    json.Number("zero", 0);
    json.Number("max", 4294967295u);
    json.Boolean("yes", true);
    json.Boolean("no", false);
    json.Null("nothing");
    json.Ascii("mode", "extract");
    json.BeginArray("empty");
    json.EndArray();
    json.BeginArray("items");
    json.BeginObject();
    json.BeginString("log");
    json.AppendText(L"a.msp", 5);
    json.AppendText(L" ", 1);
    json.AppendText(L"{\"}", 3);
    json.EndString();
    json.EndObject();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    EXPECT_FALSE(json.Complete()) << "the outermost object is still open";
    json.EndObject();
    EXPECT_TRUE(json.Complete());
    EXPECT_EQ(Text(json), "{\n"
                          "  \"zero\": 0,\n"
                          "  \"max\": 4294967295,\n"
                          "  \"yes\": true,\n"
                          "  \"no\": false,\n"
                          "  \"nothing\": null,\n"
                          "  \"mode\": \"extract\",\n"
                          "  \"empty\": [],\n"
                          "  \"items\": [\n"
                          "    {\n"
                          "      \"log\": \"a.msp {\\\"}\"\n"
                          "    },\n"
                          "    {}\n"
                          "  ]\n"
                          "}\n");
}

TEST(JsonWriter, GrowsItsBufferForLongDocuments)
{
    JsonWriter json;
    std::wstring name(10000, L'\x00e9');
    json.BeginArray(nullptr);
    for (int i = 0; i < 5; ++i)
        json.String(nullptr, name.data(), name.size());
    json.EndArray();
    ASSERT_TRUE(json.Complete());
    // "[\n", five indented strings of 20000 bytes, four ",\n", "\n]\n"
    EXPECT_EQ(json.Size(), 2u + 5 * (2 + 20002) + 4 * 2 + 3);
}

TEST(Sha256, MatchesTheStandardsTestVectors)
{
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    for (const Case& c : cases) {
        Sha256 hash;
        hash.Add(c.message.data(), c.message.size());
        uint8_t digest[32];
        hash.Finish(digest);
        EXPECT_EQ(Hex(digest), c.digest) << c.message;
    }
}

TEST(Sha256, GivesTheSameDigestForDataInPiecesAndStartsOverAfterFinishing)
{
    // A million 'a's, in pieces of the extraction's 32 KiB and a last odd one.
    std::string chunk(0x8000, 'a');
    Sha256 hash;
    size_t left = 1000000;
    while (left > 0) {
        size_t piece = left < chunk.size() ? left : chunk.size();
        hash.Add(chunk.data(), piece);
        left -= piece;
    }
    uint8_t digest[32];
    hash.Finish(digest);
    EXPECT_EQ(Hex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    // The same in pieces that leave a block half full before whole blocks arrive, as a short
    // read of the payload would.
    const size_t pieces[] = {1, 63, 65, 1000, 4097, 64, 127};
    left = 1000000;
    for (size_t i = 0; left > 0; ++i) {
        size_t piece = pieces[i % 7] < left ? pieces[i % 7] : left;
        hash.Add(chunk.data(), piece);
        left -= piece;
    }
    hash.Finish(digest);
    EXPECT_EQ(Hex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    for (char c : std::string("abc"))
        hash.Add(&c, 1);
    hash.Finish(digest);
    EXPECT_EQ(Hex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
