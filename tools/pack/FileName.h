// The rules a carried file's name must follow: the updater writes every carried file into one
// folder under its stored name, so each name must be a valid Windows file name and no two may
// name the same file there.
#pragma once

#include <string>

namespace pack {

constexpr size_t kMaxFileNameUnits = 259;  // 260 units in the record, one for the NUL

// Empty when Windows accepts the name as a plain file name, otherwise the reason.
std::string CheckWindowsFileName(const std::u16string& name);

// Whether Windows takes two names for the same file: it compares names without regard to
// case, by upper-casing each UTF-16 unit on its own.
bool SameWindowsFileName(const std::u16string& a, const std::u16string& b);

}  // namespace pack
