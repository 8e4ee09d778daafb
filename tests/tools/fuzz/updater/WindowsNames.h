// Where Windows puts a file created or renamed under a full path, as far as the fuzzer's
// output folder is concerned: the in-memory files use it to tell a plain file of the folder
// from a name Windows refuses and from a path that leads anywhere else, which is a finding
// whoever asked for it. Written from Windows' documented naming rules, independently of the
// updater's own check. Pure functions; one thread.
#pragma once

#include <string>

enum class NameInFolder {
    File,       // a file of that very name directly in the folder
    Refused,    // Windows fails the call (a character it does not allow, a name too long)
    Elsewhere,  // another folder, a stream, a device, or a file under another name
};

// How Windows resolves path against folder (no trailing backslash); name receives the file's
// name within the folder, and why a short reason when it is not File.
NameInFolder ResolveInFolder(const std::wstring& folder, const std::wstring& path, std::wstring& name,
                             const char*& why);

// Whether two names in one folder are the same file: NTFS compares them without regard to
// case (only ASCII letters are folded here, which is all the checks need).
bool SameFileName(const std::wstring& left, const std::wstring& right);
