// One entry of the payload's update table, exactly as it lies in the file, and the ordered
// list of them. Entries are referred to by their index, so the list is never reordered.
#pragma once

#include <cstdint>
#include <vector>

struct PatchFileInfo {
    wchar_t fileName[260];  // bare file name, NUL-terminated within the field
    uint32_t fileSize;
    uint32_t reserved;
};
static_assert(sizeof(PatchFileInfo) == 528, "an update-table entry is 528 bytes on file");

using UpdateTable = std::vector<PatchFileInfo>;
