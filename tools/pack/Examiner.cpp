// inspect's reading of an updater. Each carried file is hashed as it streams; of a compound
// file only the parts that lead to its summary information are read a second time.
#include "Examiner.h"

#include "FileName.h"
#include "PatchTargets.h"
#include "PayloadLayout.h"
#include "Sha256.h"
#include "Utf.h"

#include <algorithm>

namespace pack {

namespace {

constexpr size_t kChunk = 1 << 20;

bool AllZero(InputFile& input, uint64_t offset, uint64_t count)
{
    uint8_t bytes[8];
    if (count > sizeof bytes || !input.Read(offset, bytes, static_cast<size_t>(count)))
        return false;
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

bool ReadEntry(InputFile& input, EntryReport& entry, std::string& error)
{
    const PayloadRecord& record = entry.record;
    uint8_t head[sizeof kCompoundSignature];
    size_t headSize = std::min<size_t>(sizeof head, record.fileSize);
    if (!input.Read(record.dataOffset, head, headSize)) {
        error = "reading entry data failed";
        return false;
    }
    entry.isCompound = HasCompoundSignature(head, headSize);
    Sha256 hash;
    Bytes chunk(std::min<size_t>(kChunk, record.fileSize));
    for (uint64_t done = 0; done < record.fileSize;) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(chunk.size(), record.fileSize - done));
        if (!input.Read(record.dataOffset + done, chunk.data(), take)) {
            error = "reading entry data failed";
            return false;
        }
        hash.Update(chunk.data(), take);
        done += take;
    }
    entry.sha256 = hash.FinishHex();
    if (!entry.isCompound) {
        entry.targetsProblem = "is not a compound file";
        return true;
    }
    PatchSummary summary;
    entry.targetsRead = ReadPatchSummary(input, record.dataOffset, record.fileSize, summary, entry.targetsProblem);
    entry.targets = std::move(summary.targets);
    entry.patchCode = std::move(summary.patchCode);
    for (const RestartAction& action : summary.restartActions)
        entry.restartActions.push_back(DescribeRestartAction(action));
    entry.restartProblem = std::move(summary.restartProblem);
    if (entry.targetsRead && !HasTargetProduct(entry.targets))
        entry.targetsProblem = "names no target product";
    return true;
}

void CollectWarnings(UpdaterReport& report)
{
    const PayloadLayout& payload = report.payload;
    if (payload.nameBytes % 2)
        report.warnings.push_back("the product name's length byte is odd; its last byte is ignored");
    if (payload.versionBytes % 2)
        report.warnings.push_back("the version's length byte is odd; its last byte is ignored");
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const EntryReport& entry = report.entries[i];
        std::string which = "entry " + std::to_string(i) + ": ";
        if (!entry.record.terminated)
            report.warnings.push_back(which + "its file name has no NUL within " +
                                      std::to_string(payloadlayout::kFileNameUnits) + " units");
        std::string nameProblem = CheckWindowsFileName(entry.record.fileName);
        if (!nameProblem.empty())
            report.warnings.push_back(which + nameProblem);
        std::string listProblem = CheckPatchListName(entry.record.fileName);
        if (!listProblem.empty())
            report.warnings.push_back(which + listProblem + "; the updater can only extract it");
        if (entry.record.reserved != 0)
            report.warnings.push_back(which + "its reserved field is not 0");
        if (!entry.targetsProblem.empty())
            report.warnings.push_back(which + "the file " + entry.targetsProblem + "; the updater can only extract it");
        if (!entry.restartActions.empty())
            report.warnings.push_back(which + "the patch adds " + entry.restartActions.front() +
                                      "; Windows Installer refuses it inside the updater's transaction");
        for (size_t k = 0; k < i; ++k) {
            if (SameWindowsFileName(report.entries[k].record.fileName, entry.record.fileName)) {
                report.warnings.push_back(which + "its name equals that of entry " + std::to_string(k) +
                                          " without regard to case; extraction would fail");
                break;
            }
        }
    }
    if (report.trailer.kind == TrailerKind::Unexpected)
        report.warnings.push_back("unexpected bytes follow the payload");
}

}  // namespace

Trailer ClassifyTrailer(InputFile& input, const PeInfo& pe, uint64_t start)
{
    Trailer trailer;
    trailer.offset = start;
    if (start >= input.Size())
        return trailer;
    trailer.size = input.Size() - start;
    trailer.kind = TrailerKind::Unexpected;
    uint64_t table = pe.certificateOffset;
    if (pe.certificateSize == 0 || table < start || table - start >= 8 || table + pe.certificateSize != input.Size() ||
        !AllZero(input, start, table - start))
        return trailer;
    trailer.kind = TrailerKind::CertificateTable;
    trailer.padding = table - start;
    trailer.offset = table;
    trailer.size = pe.certificateSize;
    return trailer;
}

bool InspectUpdater(InputFile& input, UpdaterReport& report, std::string& error)
{
    report = UpdaterReport{};
    report.fileSize = input.Size();
    if (!ReadPeHeaders(input, report.pe, error))
        return false;
    report.version = ReadVersionResource(input, report.pe);
    uint64_t p = report.pe.payloadOffset;
    if (input.Size() < p) {
        error = "is truncated: it ends before its last section's data";
        return false;
    }
    if (input.Size() == p) {
        error = "carries no payload: the file ends where its last section's data end";
        return false;
    }
    if (ClassifyTrailer(input, report.pe, p).kind == TrailerKind::CertificateTable) {
        error = "carries no payload: a certificate table follows its last section directly";
        return false;
    }
    if (!ReadPayload(input, p, report.payload, error))
        return false;
    for (const PayloadRecord& record : report.payload.records) {
        EntryReport entry;
        entry.record = record;
        if (!ReadEntry(input, entry, error))
            return false;
        report.entries.push_back(std::move(entry));
    }
    report.trailer = ClassifyTrailer(input, report.pe, report.payload.end);
    CollectWarnings(report);
    return true;
}

}  // namespace pack
