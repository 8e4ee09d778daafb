// Windows Installer stream names: table streams start with 0x4840, and the characters
// 0-9A-Za-z._ are packed two to a UTF-16 unit (0x3800 + (second << 6) + first) or one
// (0x4800 + value); other characters are kept. Decoding reverses this for display.
#pragma once

#include <string>

namespace compound {

std::u16string EncodeMsiStreamName(const std::string& name, bool table);

// The plain name; a table stream's name gets a leading '!' so callers can tell tables apart.
// Characters outside ASCII that are not packed come back as '?'.
std::string DecodeMsiStreamName(const std::u16string& stored);

}  // namespace compound
