// The version resource of an updater stub (RT_VERSION's VS_FIXEDFILEINFO): which release of
// the updater a packed file was made from, as Explorer's Details tab shows it.
#pragma once

#include "InputFile.h"
#include "PeImage.h"

#include <string>

namespace pack {

struct VersionResource {
    bool found = false;
    std::string fileVersion;  // "1.2.3.0"
    std::string productVersion;
};

// Reads the first version resource of the image. Anything malformed or missing gives
// found = false: the resource says nothing about whether the updater works.
VersionResource ReadVersionResource(InputFile& input, const PeInfo& pe);

}  // namespace pack
