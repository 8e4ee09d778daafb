// Just enough of ASN.1's Distinguished Encoding Rules to walk a PKCS#7 signature: one
// tag-length-value element at a time, single-byte tags, definite lengths only. Every length is
// checked against the bytes that hold it, since verify runs this on arbitrary files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pack::der {

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kObjectIdentifier = 0x06;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xA0;  // [0], constructed

struct Element {
    uint8_t tag = 0;
    const uint8_t* body = nullptr;
    size_t size = 0;   // of the body
    size_t total = 0;  // header and body
};

// The elements inside a constructed element (or any run of bytes), front to back.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    explicit Reader(const Element& element) : Reader(element.body, element.size) {}

    // False at the end, or when the next element is malformed or overruns (then `failed()`).
    bool Next(Element& element);
    // Next() that also insists on the tag.
    bool Expect(uint8_t tag, Element& element);
    bool AtEnd() const { return left_ == 0; }
    bool failed() const { return failed_; }

private:
    const uint8_t* data_;
    size_t left_;
    bool failed_ = false;
};

// True when the element is an OBJECT IDENTIFIER with exactly this encoded body.
bool IsObjectIdentifier(const Element& element, const uint8_t* encoded, size_t size);

template <size_t N>
bool IsObjectIdentifier(const Element& element, const uint8_t (&encoded)[N])
{
    return IsObjectIdentifier(element, encoded, N);
}

}  // namespace pack::der
