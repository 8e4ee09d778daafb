// detection: how a deployment tool tells that an updater's patches are installed, read from
// Windows Installer's own registration of each applied patch. For every carried patch and every
// product it targets, one clause: the registry value that Windows Installer keeps for the patch
// on a per-machine installation, and Intune's registry rules for that value; for the whole
// updater, one PowerShell script that asks Windows Installer about every installation context.
// Patch codes and targets are inspect's, read once by InspectUpdater.
#pragma once

#include "Examiner.h"

#include <string>
#include <vector>

namespace pack {

// The patch states that mean the update is there: 1 applied, 2 superseded by a later patch,
// 4 obsolete. (8, registered but not applied, does not count; no patch is ever in state 3.)
extern const int kPresentPatchStates[3];

// The DWORD value that holds a patch's state under its key.
extern const char kPatchStateValue[];

// Windows Installer's packed form of a GUID in braces, as its registry keys name products and
// patches: the first three groups reversed, each following byte's two hex digits swapped, in
// upper case. Empty when `code` is not a GUID in braces.
std::string PackedGuid(const std::string& code);

// HKEY_LOCAL_MACHINE\SOFTWARE\...\UserData\S-1-5-18\Products\<product>\Patches\<patch>: where
// Windows Installer records a patch applied to a per-machine installation. Windows Installer
// keeps it in the 64-bit registry view. Empty when either code is not a GUID.
std::string PatchStateKey(const std::string& productCode, const std::string& patchCode);

// Intune's comparisons of the State value: it ANDs all rules of an app, so the two together
// accept 1 to 4, which of the states Windows Installer writes are exactly 1, 2 and 4.
struct IntuneComparison {
    const char* graphOperator;  // win32LobAppRuleOperator
    int value;
};
extern const IntuneComparison kIntuneComparisons[2];

struct DetectionClause {
    size_t entry = 0;         // the patch's place in the update table
    std::string patchName;    // UTF-8
    std::string patchCode;    // as the patch's summary information holds it
    std::string productCode;  // as its target list names it
    std::string keyPath;      // PatchStateKey
};

struct Detection {
    std::string productName;  // UTF-8, as the payload carries them
    std::string productVersion;
    std::vector<DetectionClause> clauses;  // in update-table order, then target order
    std::string script;                    // PowerShell
};

// False with a one-line reason when the updater carries no patch, or carries a file that the
// updater cannot apply, a patch without a patch code, or a target that is no product code.
bool DescribeDetection(const UpdaterReport& report, Detection& detection, std::string& error);

std::string FormatDetectionText(const std::string& inputName, const Detection& detection);
std::string FormatDetectionJson(const std::string& inputName, const Detection& detection);

}  // namespace pack
