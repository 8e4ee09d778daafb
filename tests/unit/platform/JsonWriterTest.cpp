// The result file's own JSON writer: escapes and UTF-8 for every kind of UTF-16 text that file
// and product names can hold, and the document's shape.
#include <gtest/gtest.h>

#include <string>

#include "JsonWriter.h"

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
        {L"\u00e9", "\"\xc3\xa9\""},                             // two bytes
        {L"\u20ac\u2713", "\"\xe2\x82\xac\xe2\x9c\x93\""},       // three bytes
        {L"\xffff", "\"\xef\xbf\xbf\""},                         // the last BMP code point
        {L"\xd83d\xde00", "\"\xf0\x9f\x98\x80\""},               // a pair: U+1F600, four bytes
        {L"\xdbff\xdfff", "\"\xf4\x8f\xbf\xbf\""},               // U+10FFFF
        {L"a\xd800", "\"a\\ud800\""},                            // high surrogate at the end
        {L"\xd800z", "\"\\ud800z\""},                            // high surrogate before a non-surrogate
        {L"\xdc00z", "\"\\udc00z\""},                            // low surrogate alone
        {L"\xdc00\xd800", "\"\\udc00\\ud800\""},                 // a pair in the wrong order
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
    EXPECT_EQ(Text(json),
              "{\n"
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
