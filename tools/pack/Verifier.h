// verify: whether a published updater is what was packed and signed. It reads the updater as
// inspect does, then checks that nothing but a certificate table follows the payload and,
// when the updater is signed, that the image digest its Authenticode signature names is the
// digest of the file as it is, and that nothing hides inside the certificate table behind the
// signature or behind the table. It also recomputes the PE checksum: a non-zero one that the
// file's bytes do not give fails (zero, which linkers write, means none was set). Trust in the
// signer's certificate chain is not checked here.
#pragma once

#include "Authenticode.h"
#include "Examiner.h"

#include <string>
#include <vector>

namespace pack {

// NotChecked: signed, but the certificate table is not where a signature of this file would be.
enum class DigestState { Unsigned, Matches, Differs, Unreadable, NotChecked };

enum class ChecksumState { NotSet, Matches, Differs, Unreadable };

struct VerifyReport {
    UpdaterReport updater;
    std::vector<std::string> layoutProblems;  // the payload and what follows it
    bool isSigned = false;
    uint64_t tableOffset = 0;
    uint64_t tableSize = 0;
    DigestState digestState = DigestState::Unsigned;
    std::string signatureProblem;  // why the signature could not be read
    DigestAlgorithm algorithm = DigestAlgorithm::Sha256;
    std::string signedDigest;          // hex, as the signature names it
    std::string imageDigest;           // hex, of the file as it is
    uint64_t bytesAfterSignature = 0;  // inside the certificate table, beyond alignment padding
    uint64_t bytesAfterTable = 0;      // in the file, behind the certificate table
    ChecksumState checksumState = ChecksumState::Unreadable;
    uint32_t storedChecksum = 0;        // the optional header's CheckSum field
    uint32_t fileChecksum = 0;          // what the file's bytes give
    std::vector<std::string> problems;  // every reason for a failed verification, one line each
    bool ok = false;
};

// False with a one-line reason when the input cannot be read as an updater at all (as inspect).
// Otherwise fills `report`; report.ok says whether it passed. `requireSignature` makes an
// unsigned updater fail.
bool VerifyUpdater(InputFile& input, bool requireSignature, VerifyReport& report, std::string& error);

std::string FormatVerifyText(const std::string& inputName, const VerifyReport& report);
std::string FormatVerifyJson(const std::string& inputName, const VerifyReport& report);

extern const char kChainNotChecked[];

}  // namespace pack
