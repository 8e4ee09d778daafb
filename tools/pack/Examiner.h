// What an updater carries: its payload offset, product name and version, the update table
// with a SHA-256, the patch code and the target products of each carried file, and what
// follows the payload.
// Parsing and describing are separate so that the fuzzer can drive every parser on memory.
#pragma once

#include "InputFile.h"
#include "PayloadFormat.h"
#include "PeImage.h"
#include "VersionResource.h"

#include <string>
#include <vector>

namespace pack {

enum class TrailerKind { None, CertificateTable, Unexpected };

// What lies behind some offset of an image file.
struct Trailer {
    TrailerKind kind = TrailerKind::None;
    uint64_t offset = 0;  // where the certificate table, or the unexpected bytes, begin
    uint64_t size = 0;
    uint64_t padding = 0;  // zero bytes a signing tool put in front of the certificate table
};

// A certificate table counts only when the security directory points at it, within the
// eight bytes of alignment padding that signing tools add, and it runs to the end of the file.
Trailer ClassifyTrailer(InputFile& input, const PeInfo& pe, uint64_t start);

struct EntryReport {
    PayloadRecord record;
    std::string sha256;
    bool isCompound = false;
    bool targetsRead = false;
    std::vector<std::string> targets;
    std::string patchCode;                    // empty when none was read
    std::vector<std::string> restartActions;  // described, as DescribeRestartAction gives them
    std::string restartProblem;               // why the transforms could not all be read
    std::string targetsProblem;               // why no targets were read
};

struct UpdaterReport {
    uint64_t fileSize = 0;
    PeInfo pe;
    VersionResource version;  // the stub's
    PayloadLayout payload;
    std::vector<EntryReport> entries;
    Trailer trailer;
    std::vector<std::string> warnings;  // what would make the updater fail or misbehave
};

// False with a one-line reason when the input is not an updater with a readable payload.
bool InspectUpdater(InputFile& input, UpdaterReport& report, std::string& error);

}  // namespace pack
