// Windows' rules for names in a folder, from its documentation on naming files: the separators,
// the stream delimiter, the "." and ".." entries, the trailing dots and spaces it drops, the
// DOS device names it maps whatever extension follows, the characters it refuses and the
// 255-unit limit of a name on NTFS.
#include "WindowsNames.h"

static wchar_t FoldCase(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool SameFileName(const std::wstring& left, const std::wstring& right)
{
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i]))
            return false;
    }
    return true;
}

// The part before the first dot, without the spaces that end it, is what Windows compares with
// its device names: "nul.txt" and "COM1 .log" are devices too.
static bool IsDosDevice(const std::wstring& name)
{
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = FoldCase(c);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL")
        return true;
    if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0))
        return false;
    wchar_t digit = base[3];
    // The superscript digits one, two and three count as well.
    return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

NameInFolder ResolveInFolder(const std::wstring& folder, const std::wstring& path, std::wstring& name, const char*& why)
{
    name.clear();
    why = "";
    if (path.size() <= folder.size() || !SameFileName(path.substr(0, folder.size()), folder) ||
        path[folder.size()] != L'\\') {
        why = "not below the output folder";
        return NameInFolder::Elsewhere;
    }
    name = path.substr(folder.size() + 1);
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        why = "in another folder";
        return NameInFolder::Elsewhere;
    }
    if (name.find(L':') != std::wstring::npos) {
        why = "an alternate data stream";
        return NameInFolder::Elsewhere;
    }
    if (name.empty() || name == L"." || name == L"..") {
        why = "the folder itself or its parent";
        return NameInFolder::Elsewhere;
    }
    if (name.back() == L'.' || name.back() == L' ') {
        why = "a name whose trailing dots or spaces Windows drops";
        return NameInFolder::Elsewhere;
    }
    if (IsDosDevice(name)) {
        why = "a DOS device";
        return NameInFolder::Elsewhere;
    }
    for (wchar_t c : name) {
        if (c < 0x20 || std::wstring(L"<>\"|?*").find(c) != std::wstring::npos) {
            why = "a character Windows refuses in names";
            return NameInFolder::Refused;
        }
    }
    if (name.size() > 255) {
        why = "longer than a name on NTFS";
        return NameInFolder::Refused;
    }
    return NameInFolder::File;
}
