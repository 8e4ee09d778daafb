// The fuzzer's own reading of a payload, written from the format's description rather than
// from the updater's reader, and what the updater should therefore do with it: where its header
// ends, which table entries it holds and where each file's data lie, and how far extraction
// into an empty folder gets. The checks compare the updater's answers with it. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UpdateTable.h"

struct ModelEntry {
    PatchFileInfo raw;  // the 528 bytes as they lie in the payload
    std::wstring name;  // up to the NUL, or all 260 units when there is none
    bool terminated;
    uint64_t dataOffset;  // into the payload, assuming the entries before were copied whole
};

struct PayloadModel {
    bool headerRead = false;  // N1, the name, N2 and the version are all there
    std::wstring productName;
    std::wstring productVersion;
    size_t countOffset = 0;  // where the entry count lies, once the header was read
    bool countRead = false;
    uint32_t count = 0;
    bool tableFits = false;           // count entries fit into what follows the count
    std::vector<ModelEntry> entries;  // every whole entry the payload holds, up to count
};

// payload is everything from the payload offset P to the end of the file.
PayloadModel ReadPayloadModel(const uint8_t* payload, size_t size);

// How many entries extraction into an empty folder writes before it stops (count when it
// succeeds): an entry stops it when its name is not usable (nameUsable, one per entry: the
// updater's check passes it and Windows takes it), when a file of that name was written
// before, or when its data are cut off.
size_t ExpectedFilesWritten(const PayloadModel& model, size_t payloadSize, const std::vector<bool>& nameUsable);
