// Text and JSON renderings of an inspected updater. Offsets are file offsets; the text form
// adds each one's distance from P, which is how the payload's layout counts.
#include "ReportFormat.h"

#include "HexText.h"
#include "Utf.h"

#include <cstdio>

namespace pack {

namespace {

std::string Quoted(const std::u16string& text)
{
    return JsonString(Utf16ToUtf8(text));
}

// Summary strings are 8-bit text in the package's code page; product codes are ASCII, and
// anything else is shown as Latin-1 rather than passed on as invalid UTF-8.
std::string QuotedAnsi(const std::string& text)
{
    std::u16string wide(text.begin(), text.end());
    for (size_t i = 0; i < text.size(); ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    return Quoted(wide);
}

std::string TrailerText(const Trailer& trailer)
{
    switch (trailer.kind) {
    case TrailerKind::None:
        return "nothing";
    case TrailerKind::CertificateTable:
        return "certificate table of " + std::to_string(trailer.size) + " bytes at " + Hex(trailer.offset) +
               (trailer.padding ? " (behind " + std::to_string(trailer.padding) + " padding bytes)" : "");
    case TrailerKind::Unexpected:
        break;
    }
    return std::to_string(trailer.size) + " unexpected bytes at " + Hex(trailer.offset);
}

const char* TrailerKindName(TrailerKind kind)
{
    switch (kind) {
    case TrailerKind::None:
        return "none";
    case TrailerKind::CertificateTable:
        return "certificate-table";
    case TrailerKind::Unexpected:
        break;
    }
    return "unexpected";
}

}  // namespace

std::string VersionText(const VersionResource& version)
{
    if (!version.found)
        return "none";
    return "file " + version.fileVersion + ", product " + version.productVersion;
}

std::string VersionJson(const VersionResource& version)
{
    if (!version.found)
        return "null";
    return "{\"file\": " + JsonString(version.fileVersion) + ", \"product\": " + JsonString(version.productVersion) +
           "}";
}

std::string JsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string FormatReportText(const std::string& inputName, const UpdaterReport& report)
{
    const PayloadLayout& payload = report.payload;
    std::string out;
    out += "updater: " + inputName + " (" + std::to_string(report.fileSize) + " bytes)\n";
    out += "machine: " + std::string(MachineName(report.pe.machine)) + "\n";
    out += "updater version: " + VersionText(report.version) + "\n";
    out += "payload offset: " + Hex(payload.offset) + "\n";
    out += "product name: " + Quoted(payload.name) + "\n";
    out += "product version: " + Quoted(payload.version) + "\n";
    out += "entries: " + std::to_string(report.entries.size()) + "\n";
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const EntryReport& entry = report.entries[i];
        const PayloadRecord& record = entry.record;
        out += "  [" + std::to_string(i) + "] " + Quoted(record.fileName) + " size " + std::to_string(record.fileSize) +
               " offset " + Hex(record.dataOffset) + " (P+" + Hex(record.dataOffset - payload.offset) + ")\n";
        out += "      sha256 " + entry.sha256 + "\n";
        if (entry.targetsRead) {
            out += "      patch code " + (entry.patchCode.empty() ? std::string("(none)") : entry.patchCode) + "\n";
            std::string list;
            for (const std::string& code : entry.targets)
                list += (list.empty() ? "" : " ") + QuotedAnsi(code);
            out += "      targets " + (list.empty() ? std::string("(none)") : list) + "\n";
            std::string actions;
            for (const std::string& action : entry.restartActions)
                actions += (actions.empty() ? "" : "; ") + action;
            if (!entry.restartProblem.empty())
                actions += (actions.empty() ? "" : "; ") + std::string("not all read: ") + entry.restartProblem;
            out += "      restart actions " + (actions.empty() ? std::string("(none)") : actions) + "\n";
        } else {
            out += "      targets not read: the file " + entry.targetsProblem + "\n";
        }
    }
    out += "payload end: " + Hex(payload.end) + "\n";
    out += "after the payload: " + TrailerText(report.trailer) + "\n";
    for (const std::string& warning : report.warnings)
        out += "warning: " + warning + "\n";
    return out;
}

std::string FormatReportJson(const std::string& inputName, const UpdaterReport& report)
{
    const PayloadLayout& payload = report.payload;
    std::string out = "{\n";
    out += "  \"file\": " + JsonString(inputName) + ",\n";
    out += "  \"fileSize\": " + std::to_string(report.fileSize) + ",\n";
    out += "  \"machine\": \"" + std::string(MachineName(report.pe.machine)) + "\",\n";
    out += "  \"updaterVersion\": " + VersionJson(report.version) + ",\n";
    out += "  \"payloadOffset\": " + std::to_string(payload.offset) + ",\n";
    out += "  \"productName\": " + Quoted(payload.name) + ",\n";
    out += "  \"productVersion\": " + Quoted(payload.version) + ",\n";
    out += "  \"entries\": [";
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const EntryReport& entry = report.entries[i];
        out += i ? ",\n" : "\n";
        out += "    {\"index\": " + std::to_string(i) + ", \"name\": " + Quoted(entry.record.fileName) +
               ", \"size\": " + std::to_string(entry.record.fileSize) +
               ", \"offset\": " + std::to_string(entry.record.dataOffset) + ", \"sha256\": \"" + entry.sha256 +
               "\", \"patchCode\": " + (entry.patchCode.empty() ? std::string("null") : QuotedAnsi(entry.patchCode)) +
               ", \"targets\": ";
        if (entry.targetsRead) {
            out += "[";
            for (size_t k = 0; k < entry.targets.size(); ++k)
                out += (k ? ", " : "") + QuotedAnsi(entry.targets[k]);
            out += "]";
        } else {
            out += "null";
        }
        out += ", \"restartActions\": ";
        if (entry.targetsRead && entry.restartProblem.empty()) {
            out += "[";
            for (size_t k = 0; k < entry.restartActions.size(); ++k)
                out += (k ? ", " : "") + JsonString(entry.restartActions[k]);
            out += "]";
        } else {
            out += "null";
        }
        out += "}";
    }
    out += report.entries.empty() ? "],\n" : "\n  ],\n";
    out += "  \"payloadEnd\": " + std::to_string(payload.end) + ",\n";
    const Trailer& trailer = report.trailer;
    out += "  \"afterPayload\": {\"kind\": \"" + std::string(TrailerKindName(trailer.kind)) +
           "\", \"offset\": " + std::to_string(trailer.offset) + ", \"size\": " + std::to_string(trailer.size) + "},\n";
    out += "  \"warnings\": [";
    for (size_t i = 0; i < report.warnings.size(); ++i)
        out += (i ? ", " : "") + JsonString(report.warnings[i]);
    out += "]\n}\n";
    return out;
}

}  // namespace pack
