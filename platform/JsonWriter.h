// A small writer of one JSON document: UTF-8 without a byte-order mark, two-space indents,
// one member per line. Texts come in as UTF-16 (the program's own strings, file and product
// names from outside among them) and leave as UTF-8; a surrogate that has no partner cannot be
// UTF-8, so it is written as its \u escape and the name survives unchanged. One writer makes
// one document, on one thread.
#pragma once

#include <cstddef>
#include <cstdint>

class JsonWriter {
public:
    JsonWriter() = default;
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;
    ~JsonWriter();

    // name: the member's name inside an object (plain ASCII from the program), or null for the
    // outermost value and for the elements of an array.
    void BeginObject(const char* name = nullptr);
    void EndObject();
    void BeginArray(const char* name);
    void EndArray();
    void String(const char* name, const wchar_t* text, size_t length);
    // A string value written in pieces: BeginString, any number of AppendText, EndString.
    void BeginString(const char* name);
    void AppendText(const wchar_t* text, size_t length);
    void EndString();
    // A text made by the program itself: ASCII, with nothing that needs escaping.
    void Ascii(const char* name, const char* text);
    void Number(const char* name, uint32_t value);
    void Boolean(const char* name, bool value);
    void Null(const char* name);

    // The document so far; complete, with a final line feed, once the outermost value is
    // closed. False when memory ran out on the way: the text is then incomplete.
    bool Complete() const { return !failed_ && depth_ == 0 && size_ > 0; }
    const char* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    void Put(char c);
    void Append(const char* text);
    void Member(const char* name);
    void Close(char bracket);

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
    int depth_ = 0;
    bool first_ = true;  // nothing written yet in the innermost open object or array
};
