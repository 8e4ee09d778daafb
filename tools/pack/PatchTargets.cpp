// Target product codes of a carried patch, read with the project's compound-file reader from
// the input file as needed.
#include "PatchTargets.h"

#include "PayloadFormat.h"
#include "CompoundFile.h"
#include "PropertySet.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace pack {

namespace {

// Summary information holds a handful of short properties; a stream claiming more is damaged,
// and is not read into memory.
constexpr uint64_t kMaxSummarySize = 1 << 20;

}  // namespace

bool HasCompoundSignature(const uint8_t* data, size_t size)
{
    return size >= sizeof kCompoundSignature && std::memcmp(data, kCompoundSignature, sizeof kCompoundSignature) == 0;
}

std::vector<std::string> SplitProductCodes(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t position = 0;
    while (position < text.size()) {
        size_t semicolon = text.find(';', position);
        if (semicolon == std::string::npos)
            break;
        pieces.push_back(text.substr(position, semicolon - position));
        position = semicolon + 1;
    }
    if (position < text.size())
        pieces.push_back(text.substr(position));
    return pieces;
}

std::string PatchCodeFrom(const std::string& revisionNumber)
{
    static const char shape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    const size_t length = sizeof shape - 1;
    if (revisionNumber.size() < length)
        return std::string();
    for (size_t i = 0; i < length; ++i) {
        char c = revisionNumber[i];
        bool fits = shape[i] == 'x' ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c == shape[i];
        if (!fits)
            return std::string();
    }
    return revisionNumber.substr(0, length);
}

bool ReadPatchTargets(InputFile& input, uint64_t offset, uint64_t size, std::vector<std::string>& targets,
                      std::string& error)
{
    PatchSummary summary;
    bool read = ReadPatchSummary(input, offset, size, summary, error);
    targets = std::move(summary.targets);
    return read;
}

bool ReadPatchSummary(InputFile& input, uint64_t offset, uint64_t size, PatchSummary& patch, std::string& error)
{
    patch = PatchSummary{};
    uint8_t head[sizeof kCompoundSignature] = {};
    size_t headSize = static_cast<size_t>(std::min<uint64_t>(sizeof head, size));
    if (!input.Read(offset, head, headSize) || !HasCompoundSignature(head, headSize)) {
        error = "is not a compound file (no D0 CF 11 E0 A1 B1 1A E1 signature)";
        return false;
    }
    compound::Reader reader;
    std::string reason;
    auto read = [&input, offset](uint64_t at, uint8_t* out, size_t count) {
        return input.Read(offset + at, out, count);
    };
    if (!reader.Open(size, read, &reason)) {
        error = "is not a readable compound file: " + reason;
        return false;
    }
    const compound::Entry* summary = reader.Find(reader.Root(), u"\x0005SummaryInformation");
    if (!summary || summary->type != compound::EntryType::Stream) {
        error = "has no summary information";
        return false;
    }
    if (summary->size > kMaxSummarySize) {
        error =
            "has summary information of " + std::to_string(summary->size) + " bytes, far more than its properties need";
        return false;
    }
    compound::Bytes stream;
    if (!reader.ReadStream(*summary, stream, &reason)) {
        error = "has unreadable summary information: " + reason;
        return false;
    }
    std::string templateText;
    if (!compound::ReadStringProperty(stream, compound::PID_TEMPLATE, templateText, &reason)) {
        error = "has no target product list in its summary information: " + reason;
        return false;
    }
    patch.targets = SplitProductCodes(templateText);
    std::string revisionNumber;
    if (compound::ReadStringProperty(stream, compound::PID_REVNUMBER, revisionNumber, nullptr))
        patch.patchCode = PatchCodeFrom(revisionNumber);
    FindRestartActions(reader, patch.restartActions, patch.restartProblem);
    return true;
}

bool HasTargetProduct(const std::vector<std::string>& targets)
{
    for (const std::string& code : targets)
        if (!code.empty())
            return true;
    return false;
}

}  // namespace pack
