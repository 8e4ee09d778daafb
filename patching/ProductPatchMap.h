// Which carried patches target which product: product code -> indexes into the UpdateTable.
// Keys compare by their 16-bit code units, case-sensitively, exactly as the patches spell
// them; each list is in ascending table order and may hold an index more than once.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using PatchIndexList = std::vector<int32_t>;
using ProductPatchMap = std::map<std::wstring, PatchIndexList>;
