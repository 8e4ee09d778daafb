// A certificate table (the security data directory's target, a file offset) holds
// WIN_CERTIFICATE entries: a 32-bit length that includes the 8-byte entry header, a 16-bit
// revision, a 16-bit type (2: PKCS#7 SignedData), then the signature, padded to 8 bytes.
// Windows reads the signature's DER structure and ignores bytes behind it, inside the table
// or behind the table, although the image digest does not cover them: such bytes are how
// content is smuggled into a validly signed file, so verify reports each of them.
#include "Verifier.h"

#include "HexText.h"
#include "PeChecksum.h"
#include "ReportFormat.h"
#include "Utf.h"

#include <algorithm>
#include <cstdio>

namespace pack {

const char kChainNotChecked[] =
    "not checked (verify compares digests only; use osslsigncode verify or signtool verify /pa "
    "for the signature and its certificate chain)";

namespace {

constexpr uint64_t kEntryHeader = 8;
constexpr uint16_t kPkcsSignedData = 2;
// Certificate tables are a few kilobytes; the bound keeps a hostile directory from making
// verify read gigabytes into memory.
constexpr uint64_t kMaxTable = 64u << 20;

std::string HexBytes(const Bytes& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

bool AllZero(const Bytes& bytes, size_t from, size_t to)
{
    return std::all_of(bytes.begin() + from, bytes.begin() + to, [](uint8_t b) { return b == 0; });
}

bool ZeroPadding(InputFile& input, uint64_t from, uint64_t to)
{
    uint8_t bytes[8] = {};
    if (to - from > sizeof bytes || !input.Read(from, bytes, static_cast<size_t>(to - from)))
        return false;
    return std::all_of(bytes, bytes + (to - from), [](uint8_t b) { return b == 0; });
}

// Where the certificate table lies, against the payload's end: right behind it (after at most
// seven zero bytes of alignment) and inside the file.
void CheckLayout(InputFile& input, VerifyReport& report)
{
    const UpdaterReport& updater = report.updater;
    uint64_t end = updater.payload.end;
    uint64_t size = input.Size();
    report.isSigned = updater.pe.certificateOffset != 0 || updater.pe.certificateSize != 0;
    if (!report.isSigned) {
        if (size > end)
            report.layoutProblems.push_back(std::to_string(size - end) + " unexpected bytes follow the payload at " +
                                            Hex(end));
        return;
    }
    report.tableOffset = updater.pe.certificateOffset;
    report.tableSize = updater.pe.certificateSize;
    uint64_t table = report.tableOffset;
    if (table < end || table - end >= 8 || !ZeroPadding(input, end, table)) {
        report.layoutProblems.push_back("the certificate table (at " + Hex(table) +
                                        ") does not follow the payload (which ends at " + Hex(end) + ")");
        return;
    }
    if (table + report.tableSize > size) {
        report.layoutProblems.push_back("the certificate table runs beyond the end of the file");
        return;
    }
    report.bytesAfterTable = size - (table + report.tableSize);
}

// The first entry of the table must be a PKCS#7 signature; behind its DER structure only the
// zero bytes that align it to 8 may follow, to the end of the table.
void CheckSignature(InputFile& input, VerifyReport& report)
{
    if (report.tableSize > kMaxTable) {
        report.signatureProblem = "the certificate table is implausibly large";
        return;
    }
    Bytes table(static_cast<size_t>(report.tableSize));
    if (!input.Read(report.tableOffset, table.data(), table.size())) {
        report.signatureProblem = "reading the certificate table failed";
        return;
    }
    if (table.size() < kEntryHeader || GetU32(table.data()) < kEntryHeader || GetU32(table.data()) > table.size() ||
        GetU16(table.data() + 6) != kPkcsSignedData) {
        report.signatureProblem = "the certificate table does not start with a PKCS#7 signature entry";
        return;
    }
    SignedDigest signedDigest;
    std::string error;
    if (!ReadSignedDigest(table.data() + kEntryHeader, table.size() - kEntryHeader, signedDigest, error)) {
        report.signatureProblem = error;
        return;
    }
    size_t blobEnd = kEntryHeader + signedDigest.blobSize;
    size_t aligned = std::min<size_t>((blobEnd + 7) / 8 * 8, table.size());
    if (blobEnd < table.size() && (aligned < table.size() || !AllZero(table, blobEnd, aligned)))
        report.bytesAfterSignature = table.size() - blobEnd;

    report.algorithm = signedDigest.algorithm;
    report.signedDigest = HexBytes(signedDigest.digest);
    Bytes digest;
    if (!ComputeImageDigest(input, report.updater.pe, report.tableOffset, signedDigest.algorithm, digest, error)) {
        report.signatureProblem = error;
        return;
    }
    report.imageDigest = HexBytes(digest);
    report.digestState = digest == signedDigest.digest ? DigestState::Matches : DigestState::Differs;
}

void CheckChecksum(InputFile& input, VerifyReport& report)
{
    uint64_t at = report.updater.pe.checksumOffset;
    uint8_t field[4];
    if (!input.Read(at, field, sizeof field) || !ComputePeChecksum(input, at, report.fileChecksum))
        return;
    report.storedChecksum = GetU32(field);
    if (report.storedChecksum == 0)
        report.checksumState = ChecksumState::NotSet;
    else if (report.storedChecksum == report.fileChecksum)
        report.checksumState = ChecksumState::Matches;
    else
        report.checksumState = ChecksumState::Differs;
}

const char* ChecksumStateText(ChecksumState state)
{
    switch (state) {
    case ChecksumState::NotSet:
        return "not set";
    case ChecksumState::Matches:
        return "matches";
    case ChecksumState::Differs:
        return "differs";
    case ChecksumState::Unreadable:
        break;
    }
    return "unreadable";
}

void CollectProblems(bool requireSignature, VerifyReport& report)
{
    report.problems = report.layoutProblems;
    if (report.checksumState == ChecksumState::Differs)
        report.problems.push_back("the PE checksum " + Hex(report.storedChecksum) + " is not the file's (" +
                                  Hex(report.fileChecksum) + "): the file changed after it was packed or signed");
    if (report.checksumState == ChecksumState::Unreadable)
        report.problems.push_back("the file cannot be read whole");
    if (!report.isSigned && requireSignature)
        report.problems.push_back("the updater is not signed");
    if (report.digestState == DigestState::Unreadable)
        report.problems.push_back("the signature cannot be read: " + report.signatureProblem);
    if (report.digestState == DigestState::Differs)
        report.problems.push_back("digest differs: the file is not what was signed");
    if (report.bytesAfterSignature)
        report.problems.push_back(std::to_string(report.bytesAfterSignature) +
                                  " bytes follow the signature inside the certificate table");
    if (report.bytesAfterTable)
        report.problems.push_back(std::to_string(report.bytesAfterTable) + " bytes follow the certificate table");
    report.ok = report.problems.empty();
}

const char* DigestStateText(DigestState state)
{
    switch (state) {
    case DigestState::Unsigned:
        return "unsigned";
    case DigestState::Matches:
        return "matches";
    case DigestState::Differs:
        return "differs";
    case DigestState::NotChecked:
        return "not checked";
    case DigestState::Unreadable:
        break;
    }
    return "unreadable";
}

std::string JsonList(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
}

}  // namespace

bool VerifyUpdater(InputFile& input, bool requireSignature, VerifyReport& report, std::string& error)
{
    report = VerifyReport{};
    if (!InspectUpdater(input, report.updater, error))
        return false;
    // Said more precisely below: where the stray bytes lie against the certificate table.
    std::vector<std::string>& warnings = report.updater.warnings;
    warnings.erase(std::remove(warnings.begin(), warnings.end(), "unexpected bytes follow the payload"),
                   warnings.end());
    CheckLayout(input, report);
    CheckChecksum(input, report);
    if (report.isSigned && !report.layoutProblems.empty()) {
        report.digestState = DigestState::NotChecked;
    } else if (report.isSigned) {
        report.digestState = DigestState::Unreadable;
        CheckSignature(input, report);
    }
    CollectProblems(requireSignature, report);
    return true;
}

std::string FormatVerifyText(const std::string& inputName, const VerifyReport& report)
{
    const UpdaterReport& updater = report.updater;
    std::string out;
    out += "updater: " + inputName + " (" + std::to_string(updater.fileSize) + " bytes)\n";
    out += "machine: " + std::string(MachineName(updater.pe.machine)) + "\n";
    out += "updater version: " + VersionText(updater.version) + "\n";
    out += "product name: " + JsonString(Utf16ToUtf8(updater.payload.name)) + "\n";
    out += "product version: " + JsonString(Utf16ToUtf8(updater.payload.version)) + "\n";
    out += "entries: " + std::to_string(updater.entries.size()) + ", payload end " + Hex(updater.payload.end) + "\n";
    out += "layout: " + std::string(report.layoutProblems.empty() ? "sound" : "unsound") + "\n";
    out += "PE checksum: " + Hex(report.storedChecksum) + " (" + ChecksumStateText(report.checksumState);
    if (report.checksumState == ChecksumState::Differs)
        out += "; the file's bytes give " + Hex(report.fileChecksum);
    out += ")\n";
    if (!report.isSigned) {
        out += "signature: none (unsigned)\n";
    } else {
        out += "signature: certificate table of " + std::to_string(report.tableSize) + " bytes at " +
               Hex(report.tableOffset) + "\n";
        if (!report.signedDigest.empty()) {
            out += "digest algorithm: " + std::string(DigestAlgorithmName(report.algorithm)) + "\n";
            out += "signed digest: " + report.signedDigest + "\n";
        }
        if (!report.imageDigest.empty())
            out += "image digest:  " + report.imageDigest + "\n";
        out += "digest: " + std::string(DigestStateText(report.digestState)) + "\n";
        if (report.layoutProblems.empty()) {
            out += "after the signature, inside the table: " +
                   (report.bytesAfterSignature ? std::to_string(report.bytesAfterSignature) + " bytes"
                                               : std::string("nothing")) +
                   "\n";
            out +=
                "after the certificate table: " +
                (report.bytesAfterTable ? std::to_string(report.bytesAfterTable) + " bytes" : std::string("nothing")) +
                "\n";
        }
        out += "certificate chain: " + std::string(kChainNotChecked) + "\n";
    }
    for (const std::string& warning : updater.warnings)
        out += "warning: " + warning + "\n";
    for (const std::string& problem : report.problems)
        out += "problem: " + problem + "\n";
    out += report.ok ? "verify: passed\n" : "verify: FAILED\n";
    return out;
}

std::string FormatVerifyJson(const std::string& inputName, const VerifyReport& report)
{
    const UpdaterReport& updater = report.updater;
    auto optional = [](const std::string& text) { return text.empty() ? std::string("null") : JsonString(text); };
    std::string out = "{\n";
    out += "  \"file\": " + JsonString(inputName) + ",\n";
    out += "  \"fileSize\": " + std::to_string(updater.fileSize) + ",\n";
    out += "  \"machine\": \"" + std::string(MachineName(updater.pe.machine)) + "\",\n";
    out += "  \"updaterVersion\": " + VersionJson(updater.version) + ",\n";
    out += "  \"productName\": " + JsonString(Utf16ToUtf8(updater.payload.name)) + ",\n";
    out += "  \"productVersion\": " + JsonString(Utf16ToUtf8(updater.payload.version)) + ",\n";
    out += "  \"entries\": " + std::to_string(updater.entries.size()) + ",\n";
    out += "  \"payloadEnd\": " + std::to_string(updater.payload.end) + ",\n";
    out += "  \"layoutSound\": " + std::string(report.layoutProblems.empty() ? "true" : "false") + ",\n";
    out += "  \"peChecksum\": {\"stored\": " + std::to_string(report.storedChecksum) +
           ", \"computed\": " + std::to_string(report.fileChecksum) + ", \"state\": \"" +
           ChecksumStateText(report.checksumState) + "\"},\n";
    out += "  \"signed\": " + std::string(report.isSigned ? "true" : "false") + ",\n";
    out += "  \"certificateTable\": " +
           (report.isSigned ? "{\"offset\": " + std::to_string(report.tableOffset) +
                                  ", \"size\": " + std::to_string(report.tableSize) + "}"
                            : std::string("null")) +
           ",\n";
    out +=
        "  \"digestAlgorithm\": " + optional(report.signedDigest.empty() ? "" : DigestAlgorithmName(report.algorithm)) +
        ",\n";
    out += "  \"signedDigest\": " + optional(report.signedDigest) + ",\n";
    out += "  \"imageDigest\": " + optional(report.imageDigest) + ",\n";
    out += "  \"digest\": \"" + std::string(DigestStateText(report.digestState)) + "\",\n";
    out += "  \"bytesAfterSignature\": " + std::to_string(report.bytesAfterSignature) + ",\n";
    out += "  \"bytesAfterCertificateTable\": " + std::to_string(report.bytesAfterTable) + ",\n";
    out += "  \"certificateChainChecked\": false,\n";
    out += "  \"warnings\": " + JsonList(updater.warnings) + ",\n";
    out += "  \"problems\": " + JsonList(report.problems) + ",\n";
    out += "  \"passed\": " + std::string(report.ok ? "true" : "false") + "\n}\n";
    return out;
}

}  // namespace pack
