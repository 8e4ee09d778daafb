// Conversions between the UTF-8 of the command line and of the packer's output, and the
// UTF-16 that the payload and Windows file names use.
#pragma once

#include <string>

namespace pack {

// Strict decoding: false for malformed sequences, overlong forms, surrogate code points and
// values above U+10FFFF, so that a text never changes on its way into the payload.
bool Utf8ToUtf16(const std::string& in, std::u16string& out);

// For display: an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& in);

}  // namespace pack
