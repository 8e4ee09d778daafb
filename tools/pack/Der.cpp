#include "Der.h"

#include <cstring>

namespace pack::der {

bool Reader::Next(Element& element)
{
    if (left_ == 0 || failed_)
        return false;
    failed_ = true;  // until the element proves sound
    if (left_ < 2)
        return false;
    uint8_t tag = data_[0];
    if ((tag & 0x1F) == 0x1F)
        return false;  // multi-byte tag numbers: never in a signature's frame
    size_t header = 2;
    size_t length = data_[1];
    if (length & 0x80) {
        size_t count = length & 0x7F;
        // 0x80 is BER's indefinite length; more than four length bytes is no real signature.
        if (count == 0 || count > 4 || left_ < 2 + count)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | data_[2 + i];
        header += count;
    }
    if (length > left_ - header)
        return false;
    element.tag = tag;
    element.body = data_ + header;
    element.size = length;
    element.total = header + length;
    data_ += element.total;
    left_ -= element.total;
    failed_ = false;
    return true;
}

bool Reader::Expect(uint8_t tag, Element& element)
{
    if (!Next(element))
        return false;
    if (element.tag == tag)
        return true;
    failed_ = true;
    return false;
}

bool IsObjectIdentifier(const Element& element, const uint8_t* encoded, size_t size)
{
    return element.tag == kObjectIdentifier && element.size == size && std::memcmp(element.body, encoded, size) == 0;
}

}  // namespace pack::der
