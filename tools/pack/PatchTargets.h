// The product codes that a Windows Installer patch targets (the PID_TEMPLATE property of the
// summary information in the root of its compound file, split at semicolons the way the
// updater splits it) and its patch code (the first GUID of PID_REVNUMBER), which Windows
// Installer registers for every product the patch is applied to.
#pragma once

#include "ByteOrder.h"
#include "InputFile.h"
#include "RestartActions.h"

#include <string>
#include <vector>

namespace pack {

bool HasCompoundSignature(const uint8_t* data, size_t size);

// Pieces between semicolons, empty ones included; a trailing semicolon adds no piece.
std::vector<std::string> SplitProductCodes(const std::string& text);

struct PatchSummary {
    std::vector<std::string> targets;
    std::string patchCode;  // empty when the revision number does not begin with a GUID
    // The restart actions its transforms add to sequence tables; restartProblem says why they
    // could not be read (restartActions then holds those found before).
    std::vector<RestartAction> restartActions;
    std::string restartProblem;
};

// The patch is the size bytes of input from offset on. Reads only what leads to the summary
// information (header, allocation tables, directory), that stream and the transforms' string
// pools and sequence tables, so memory does not grow with the patch's files. False with a reason when the bytes are no compound file or hold no readable
// summary information with a PID_TEMPLATE string. An empty target list, and a missing or
// malformed revision number, are successful reads.
bool ReadPatchSummary(InputFile& input, uint64_t offset, uint64_t size, PatchSummary& patch, std::string& error);

// ReadPatchSummary for the targets only.
bool ReadPatchTargets(InputFile& input, uint64_t offset, uint64_t size, std::vector<std::string>& targets,
                      std::string& error);

// The GUID in braces that begins a revision number (the codes of superseded patches may
// follow it), as written; empty when the text does not begin with one.
std::string PatchCodeFrom(const std::string& revisionNumber);

// Whether any piece names a product.
bool HasTargetProduct(const std::vector<std::string>& targets);

}  // namespace pack
