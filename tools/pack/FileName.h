// The rules a carried file's name must follow: the updater writes every carried file into one
// folder under its stored name, so each name must be a valid Windows file name and no two may
// name the same file there.
#pragma once

#include <string>

namespace pack {

// Empty when Windows accepts the name as a plain file name, otherwise the reason.
std::string CheckWindowsFileName(const std::u16string& name);

// Empty when Windows Installer can take the name as one patch of a list, otherwise the reason:
// it separates the patches of a list with ';' ("MsiApplyPatch" says the delimiter must not
// appear in file names), and the updater hands it each patch's path in such a list.
std::string CheckPatchListName(const std::u16string& name);

// Whether Windows takes two names for the same file: it compares names without regard to
// case, by upper-casing each UTF-16 unit on its own.
bool SameWindowsFileName(const std::u16string& a, const std::u16string& b);

}  // namespace pack
