// The product codes that a Windows Installer patch targets: the PID_TEMPLATE property of the
// summary information in the root of its compound file, split at semicolons the way the
// updater splits it.
#pragma once

#include "ByteOrder.h"
#include "InputFile.h"

#include <string>
#include <vector>

namespace pack {

bool HasCompoundSignature(const uint8_t* data, size_t size);

// Pieces between semicolons, empty ones included; a trailing semicolon adds no piece.
std::vector<std::string> SplitProductCodes(const std::string& text);

// The patch is the size bytes of input from offset on. Reads only what leads to the summary
// information (header, allocation tables, directory) and that stream, so memory does not grow
// with the patch. False with a reason when the bytes are no compound file or hold no readable
// summary information with a PID_TEMPLATE string. An empty list is a successful read.
bool ReadPatchTargets(InputFile& input, uint64_t offset, uint64_t size, std::vector<std::string>& targets,
                      std::string& error);

// Whether any piece names a product.
bool HasTargetProduct(const std::vector<std::string>& targets);

}  // namespace pack
