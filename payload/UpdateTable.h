// One entry of the payload's update table, exactly as it lies in the file, and the ordered
// list of them. Entries are referred to by their index, so the list is never reordered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PayloadLayout.h"

struct PatchFileInfo {
    wchar_t fileName[payloadlayout::kFileNameUnits];  // bare file name, NUL-terminated within the field
    uint32_t fileSize;
    uint32_t reserved;
};
// Entries are read straight into this structure, so it must be the layout's entry.
static_assert(sizeof(PatchFileInfo) == payloadlayout::kRecordSize && sizeof(wchar_t) == 2 &&
                  offsetof(PatchFileInfo, fileSize) == payloadlayout::kFileSizeOffset &&
                  offsetof(PatchFileInfo, reserved) == payloadlayout::kReservedOffset,
              "an update-table entry as PayloadLayout.h lays it out");

using UpdateTable = std::vector<PatchFileInfo>;
