// Packing an updater. All checks read the inputs before the output is created; the copy then
// streams each input into the output, and the output is read back once, in pieces, for its PE
// checksum, so memory stays flat whatever the files' sizes.
#include "Builder.h"

#include "Examiner.h"
#include "FileName.h"
#include "HexText.h"
#include "OutputFile.h"
#include "PatchTargets.h"
#include "PayloadFormat.h"
#include "PayloadLayout.h"
#include "PeChecksum.h"
#include "PeImage.h"
#include "Utf.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pack {

namespace {

namespace fs = std::filesystem;

bool CheckText(const char* option, const std::string& text, std::u16string& out, std::string& error)
{
    std::string which = std::string(option) + " \"" + text + "\": ";
    if (!Utf8ToUtf16(text, out)) {
        error = which + "is not valid UTF-8";
        return false;
    }
    if (out.size() > payloadlayout::kMaxTextUnits) {
        error = which + "is " + std::to_string(out.size()) + " UTF-16 code units long; the payload holds at most " +
                std::to_string(payloadlayout::kMaxTextUnits);
        return false;
    }
    return true;
}

// Why a stub that does not end at P cannot be packed, in the terms a release engineer acts on.
std::string StubTrailerProblem(InputFile& stub, const PeInfo& pe)
{
    uint64_t p = pe.payloadOffset;
    const std::string advice = "; pack the unsigned, stripped updater, and sign only after packing";
    if (stub.Size() < p)
        return "is truncated: it ends at " + Hex(stub.Size()) + ", before its last section's data end at " + Hex(p);
    if (ClassifyTrailer(stub, pe, p).kind == TrailerKind::CertificateTable)
        return "is signed: a certificate table follows its last section" + advice;
    PayloadLayout layout;
    std::string ignored;
    if (ReadPayload(stub, p, layout, ignored))
        return "already carries a payload (product \"" + Utf16ToUtf8(layout.name) + "\", " +
               std::to_string(layout.records.size()) + " files)" + advice;
    return "has " + std::to_string(stub.Size() - p) + " unexpected bytes behind its last section's data at " + Hex(p) +
           " (an unstripped build carries its symbols there)" + advice;
}

// Windows Installer stops and rolls back a package that runs ForceReboot or ScheduleReboot
// inside a multiple-package transaction, and the updater applies every patch inside one.
bool CheckRestartActions(const std::string& which, const PatchSummary& summary, bool strict,
                         std::vector<std::string>& warnings, std::string& error)
{
    if (!summary.restartProblem.empty())
        warnings.push_back("warning: " + which +
                           "its restart actions could not all be read: " + summary.restartProblem);
    if (summary.restartActions.empty())
        return true;
    std::string found = which + "its transforms add " + DescribeRestartAction(summary.restartActions.front());
    if (summary.restartActions.size() > 1)
        found += " and " + std::to_string(summary.restartActions.size() - 1) + " more restart action(s)";
    found += "; Windows Installer refuses such a patch inside the updater's transaction";
    if (strict) {
        error = found + " (--strict)";
        return false;
    }
    warnings.push_back("warning: " + found + " (--strict refuses it)");
    return true;
}

struct Input {
    fs::path path;
    std::string display;
    PayloadEntry entry;
};

bool CheckFile(const std::string& argument, const BuildRequest& request, Input& input,
               std::vector<std::string>& warnings, std::string& error)
{
    input.display = argument;
    input.path = fs::u8path(argument);
    std::string which = argument + ": ";
    std::string leaf = input.path.filename().u8string();
    if (!Utf8ToUtf16(leaf, input.entry.fileName)) {
        error = which + "the file name is not valid UTF-8";
        return false;
    }
    std::string nameProblem = CheckWindowsFileName(input.entry.fileName);
    if (nameProblem.empty())
        nameProblem = CheckPatchListName(input.entry.fileName);
    if (!nameProblem.empty()) {
        error = which + nameProblem;
        return false;
    }
    InputFile file;
    if (!file.Open(input.path, error)) {
        error = which + error;
        return false;
    }
    if (file.Size() > payloadlayout::kMaxFileSize) {
        error = which + "is 4 GiB or larger; the update table holds 32-bit sizes";
        return false;
    }
    input.entry.fileSize = static_cast<uint32_t>(file.Size());

    uint8_t head[sizeof kCompoundSignature] = {};
    size_t headSize = std::min<size_t>(sizeof head, input.entry.fileSize);
    if (!file.Read(0, head, headSize)) {
        error = which + "cannot be read";
        return false;
    }
    std::string problem;
    if (!HasCompoundSignature(head, headSize)) {
        problem = "is not a Windows Installer patch (no compound-file signature D0 CF 11 E0 A1 B1 1A E1)";
    } else {
        PatchSummary summary;
        if (!ReadPatchSummary(file, 0, file.Size(), summary, problem)) {
            problem = "is not a readable patch: it " + problem;
        } else if (!HasTargetProduct(summary.targets)) {
            problem = "names no target product in its summary information";
        } else if (!CheckRestartActions(which, summary, request.strict, warnings, error)) {
            return false;
        }
    }
    if (problem.empty())
        return true;
    if (request.allowAnyFile) {
        warnings.push_back("warning: " + which + problem + "; the updater can only extract it (-x)");
        return true;
    }
    error = which + problem + "; the updater would fail on it (--allow-any-file packs it for -x only)";
    return false;
}

// The stub's checksum describes the stub alone: the output gets its own, from its bytes as
// they were written.
bool WriteChecksum(OutputFile& out, const PeInfo& pe)
{
    InputFile written;
    std::string ignored;
    uint32_t checksum = 0;
    if (!out.Flush() || !written.Open(out.TemporaryPath(), ignored) ||
        !ComputePeChecksum(written, pe.checksumOffset, checksum))
        return false;
    Bytes field;
    PutU32(field, checksum);
    return out.WriteAt(pe.checksumOffset, field.data(), field.size());
}

bool SameFile(const fs::path& a, const fs::path& b)
{
    std::error_code code;
    return fs::equivalent(a, b, code) && !code;
}

}  // namespace

bool BuildUpdater(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error)
{
    std::u16string name, version;
    if (!CheckText("--name", request.name, name, error))
        return false;
    if (!CheckText("--version", request.version, version, error))
        return false;

    fs::path stubPath = fs::u8path(request.stub);
    InputFile stub;
    PeInfo pe;
    if (!stub.Open(stubPath, error) || !ReadPeHeaders(stub, pe, error)) {
        error = request.stub + ": " + error;
        return false;
    }
    if (stub.Size() != pe.payloadOffset) {
        error = request.stub + ": " + StubTrailerProblem(stub, pe);
        return false;
    }

    std::vector<Input> inputs(request.files.size());
    std::vector<PayloadEntry> entries;
    uint64_t total = pe.payloadOffset;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!CheckFile(request.files[i], request, inputs[i], warnings, error))
            return false;
        for (size_t k = 0; k < i; ++k) {
            if (SameWindowsFileName(inputs[k].entry.fileName, inputs[i].entry.fileName)) {
                error = request.files[i] + ": its file name equals that of " + request.files[k] +
                        " without regard to case; Windows would extract both to one file";
                return false;
            }
        }
        entries.push_back(inputs[i].entry);
        total += inputs[i].entry.fileSize;
    }

    fs::path outputPath = fs::u8path(request.output);
    if (SameFile(outputPath, stubPath)) {
        error = request.output + ": the output would replace the stub";
        return false;
    }
    for (const Input& input : inputs) {
        if (SameFile(outputPath, input.path)) {
            error = request.output + ": the output would replace the input " + input.display;
            return false;
        }
    }
    Bytes header = EncodePayloadHeader(name, version, entries);
    total += header.size();
    if ((total & 0xFFFFFFFF) == pe.payloadOffset) {
        // The updater compares only the low 32 bits of its size with P.
        error = request.output +
                ": its size would be a multiple of 4 GiB plus P, which the updater "
                "takes for an empty updater";
        return false;
    }

    OutputFile out(outputPath);
    if (!out.Create(error)) {
        error = request.output + ": " + error;
        return false;
    }
    if (!out.Append(stubPath, stub.Size()) || !out.Write(header.data(), header.size())) {
        error = request.output + ": writing it failed";
        return false;
    }
    for (const Input& input : inputs) {
        std::error_code code;
        if (fs::file_size(input.path, code) != input.entry.fileSize || code) {
            error = input.display + ": changed while it was being packed";
            return false;
        }
        if (!out.Append(input.path, input.entry.fileSize)) {
            error = input.display + ": reading it or writing the output failed";
            return false;
        }
    }
    if (!WriteChecksum(out, pe)) {
        error = request.output + ": writing its PE checksum failed";
        return false;
    }
    if (!out.Commit(error)) {
        error = request.output + ": " + error;
        return false;
    }
    return true;
}

}  // namespace pack
