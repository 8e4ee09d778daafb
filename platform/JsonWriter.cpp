// JSON text with the escapes that RFC 8259 requires, and UTF-16 to UTF-8 conversion, into a
// buffer on the process heap.
#include "JsonWriter.h"

#include <windows.h>

namespace {

const char hexDigits[] = "0123456789abcdef";

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

JsonWriter::~JsonWriter()
{
    if (data_ != nullptr)
        HeapFree(GetProcessHeap(), 0, data_);
}

void JsonWriter::Put(char c)
{
    if (size_ == capacity_) {
        size_t capacity = capacity_ == 0 ? 4096 : capacity_ * 2;
        void* grown = data_ == nullptr ? HeapAlloc(GetProcessHeap(), 0, capacity)
                                       : HeapReAlloc(GetProcessHeap(), 0, data_, capacity);
        if (grown == nullptr) {
            failed_ = true;
            return;
        }
        data_ = static_cast<char*>(grown);
        capacity_ = capacity;
    }
    data_[size_++] = c;
}

void JsonWriter::Append(const char* text)
{
    while (*text != '\0')
        Put(*text++);
}

void JsonWriter::Member(const char* name)
{
    if (depth_ > 0) {
        if (!first_)
            Put(',');
        Put('\n');
        for (int i = 0; i < depth_; ++i)
            Append("  ");
    }
    first_ = false;
    if (name != nullptr) {
        Put('"');
        Append(name);
        Append("\": ");
    }
}

void JsonWriter::Close(char bracket)
{
    --depth_;
    if (!first_) {
        Put('\n');
        for (int i = 0; i < depth_; ++i)
            Append("  ");
    }
    Put(bracket);
    first_ = false;
    if (depth_ == 0)
        Put('\n');
}

void JsonWriter::BeginObject(const char* name)
{
    Member(name);
    Put('{');
    ++depth_;
    first_ = true;
}

void JsonWriter::EndObject()
{
    Close('}');
}

void JsonWriter::BeginArray(const char* name)
{
    Member(name);
    Put('[');
    ++depth_;
    first_ = true;
}

void JsonWriter::EndArray()
{
    Close(']');
}

void JsonWriter::BeginString(const char* name)
{
    Member(name);
    Put('"');
}

void JsonWriter::EndString()
{
    Put('"');
}

void JsonWriter::AppendText(const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c == '"' || c == '\\') {
            Put('\\');
            Put(static_cast<char>(c));
            continue;
        }
        if (c < 0x20 || (IsHighSurrogate(text[i]) && !(i + 1 < length && IsLowSurrogate(text[i + 1]))) ||
            (IsLowSurrogate(text[i]))) {
            // Control characters and surrogates without a partner; \b, \f, \n, \r and \t have
            // short forms, every other one is written as \u and four hexadecimal digits.
            static const char shortForms[] = "btnvfr";
            Put('\\');
            if (c >= 8 && c <= 13 && c != 11) {
                Put(shortForms[c - 8]);
                continue;
            }
            Put('u');
            for (int shift = 12; shift >= 0; shift -= 4)
                Put(hexDigits[(c >> shift) & 0xF]);
            continue;
        }
        if (IsHighSurrogate(text[i])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        }
        if (c < 0x80) {
            Put(static_cast<char>(c));
        } else if (c < 0x800) {
            Put(static_cast<char>(0xC0 | (c >> 6)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            Put(static_cast<char>(0xE0 | (c >> 12)));
            Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            Put(static_cast<char>(0xF0 | (c >> 18)));
            Put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

void JsonWriter::String(const char* name, const wchar_t* text, size_t length)
{
    BeginString(name);
    AppendText(text, length);
    EndString();
}

void JsonWriter::Ascii(const char* name, const char* text)
{
    Member(name);
    Put('"');
    Append(text);
    Put('"');
}

void JsonWriter::Number(const char* name, uint32_t value)
{
    Member(name);
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        Put(digits[--count]);
}

void JsonWriter::Boolean(const char* name, bool value)
{
    Member(name);
    Append(value ? "true" : "false");
}

void JsonWriter::Null(const char* name)
{
    Member(name);
    Append("null");
}
