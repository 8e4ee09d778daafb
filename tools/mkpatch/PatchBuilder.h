// Builds a Windows Installer patch package (.msp) that replaces installed files of one or
// more products, or adds files to them: summary information naming the targets and transforms, one transform pair
// per product, and one cabinet with the new files (made with gcab).
#pragma once

#include <string>
#include <vector>

namespace mkpatch {

struct Replacement {
    std::string fileName;  // the long name in the product's File table
    std::string newFile;   // path of the new content
};

struct TargetSpec {
    std::string product;  // path of the product .msi
    std::vector<Replacement> replacements;
    // New files, installed beside the product's first file and in its component.
    std::vector<Replacement> additions = {};
};

struct PatchOptions {
    std::string output;
    std::string productVersion;  // empty: ProductVersion stays as it is
    bool restart = false;        // adds ScheduleReboot, so applying returns 3010
    bool brokenCabinet = false;  // a truncated cabinet, so Windows Installer refuses the patch
    // The patch's family and its place in it (MsiPatchSequence), by which Windows Installer
    // orders the patches of one family; both empty: no such table.
    std::string patchFamily, familySequence;
    // MsiPatchMetadata's AllowRemoval = 1: Windows Installer may remove the patch again
    // (without it the patch stays until the product is uninstalled).
    bool allowRemoval = false;
    // The family's row says msidbPatchSequenceSupersedeEarlier: Windows Installer then marks
    // the family's patches with lower sequences superseded once this one is applied.
    bool supersedeEarlier = false;
    std::vector<TargetSpec> targets;
};

// Writes options.output (through a temporary file beside it). False with a one-line reason,
// and nothing written, when a product, file name or replacement is wrong or gcab fails.
bool BuildPatch(const PatchOptions& options, std::string* error);

// Parses the arguments after the program name. False with a one-line reason on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, PatchOptions& options, std::string* error);

extern const char* const kUsage;

}  // namespace mkpatch
