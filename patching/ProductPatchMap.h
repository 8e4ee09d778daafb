// Which carried patches target which product: product code -> indexes into the UpdateTable.
// Keys compare by their 16-bit code units, case-sensitively, exactly as the patches spell
// them; each list is in ascending table order and may hold an index more than once. A sorted
// array rather than a tree: a run has a handful of targets, and the tree's code would be the
// larger part of it in every updater.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using PatchIndexList = std::vector<int32_t>;

class ProductPatchMap {
public:
    using Entry = std::pair<std::wstring, PatchIndexList>;

    // The list of code, made empty where the code is new.
    PatchIndexList& operator[](const std::wstring& code)
    {
        auto at = std::lower_bound(entries_.begin(), entries_.end(), code,
                                   [](const Entry& entry, const std::wstring& key) { return entry.first < key; });
        if (at == entries_.end() || at->first != code)
            at = entries_.insert(at, Entry(code, PatchIndexList()));
        return at->second;
    }

    // In ascending code order.
    std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<Entry>::const_iterator end() const { return entries_.end(); }
    bool empty() const { return entries_.empty(); }

private:
    std::vector<Entry> entries_;
};
