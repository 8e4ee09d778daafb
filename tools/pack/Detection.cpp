// The detection clauses of an inspected updater and its PowerShell detection script. Windows
// Installer registers an applied patch under the product it patched, by both codes in their
// packed form; for a per-machine installation under the user data of LocalSystem (S-1-5-18),
// whoever ran the installation.
#include "Detection.h"

#include "PatchTargets.h"
#include "ReportFormat.h"
#include "Utf.h"

#include <algorithm>
#include <cctype>

namespace pack {

const int kPresentPatchStates[3] = {1, 2, 4};

const char kPatchStateValue[] = "State";

const IntuneComparison kIntuneComparisons[2] = {{"greaterThanOrEqual", 1}, {"lessThanOrEqual", 4}};

namespace {

const char kMachinePatches[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

// A name that goes into a comment of the script, kept on that line: line breaks and other
// control characters become spaces.
std::string OneLine(const std::string& utf8)
{
    std::u16string line;
    if (!Utf8ToUtf16(utf8, line))
        return "?";
    for (char16_t& c : line) {
        if (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029)
            c = u' ';
    }
    return Utf16ToUtf8(line);
}

// A summary string in an error message: bytes outside printable ASCII become '?'.
std::string Printable(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F)
            c = '?';
    }
    return out;
}

// The script's answers follow both tools' convention: something on standard output and exit
// code 0 when the update is there, nothing and 0 when it is not, another code when the
// question could not be asked. The contexts are searched in the order in which Windows
// Installer picks the installation it patches for the running account, so that an installation
// the updater could not patch does not keep the rule from ever holding.
std::string MakeScript(const Detection& detection)
{
    std::string script = "# Detection rule for " + OneLine(detection.productName + " " + detection.productVersion) +
                         ", written by tessarvane-pack detection.\n"
                         "# The update is present when Windows Installer lists every carried patch as applied,\n"
                         "# superseded or obsolete on every target product installed for the account that runs\n"
                         "# this rule (SYSTEM: per-machine installations). Of a product installed in several\n"
                         "# contexts, the one that Windows Installer patches for that account counts: per-user\n"
                         "# managed, then per-user, then per-machine. A machine with none of the target products\n"
                         "# installed does not have the update. Writes a line and exits with 0 when the update\n"
                         "# is present, exits with 0 without output when it is not, and with 1 when Windows\n"
                         "# Installer cannot be asked.\n";
    script += R"($ErrorActionPreference = 'Stop'
trap { [Console]::Error.WriteLine($_); exit 1 }
$installer = New-Object -ComObject WindowsInstaller.Installer
function Get-InstallerProperty($target, [string]$name, [object[]]$arguments) {
    $target.GetType().InvokeMember($name, 'GetProperty', $null, $target, $arguments)
}
# Each carried patch with each product it targets.
$pairs = @(
)";
    for (size_t i = 0; i < detection.clauses.size(); ++i) {
        const DetectionClause& clause = detection.clauses[i];
        script += "    @{ Patch = '" + clause.patchCode + "'; Product = '" + clause.productCode + "' }" +
                  (i + 1 < detection.clauses.size() ? "," : "") + "  # " + OneLine(clause.patchName) + "\n";
    }
    script += R"()
$checked = 0
foreach ($pair in $pairs) {
    # 1 per-user managed, 2 per-user, 4 per-machine; '' is the account that runs the rule.
    foreach ($context in 1, 2, 4) {
        # State 5: installed, not only advertised.
        $installed = @(Get-InstallerProperty $installer 'ProductsEx' @($pair.Product, '', $context) |
            Where-Object { (Get-InstallerProperty $_ 'State' $null) -eq 5 })
        if ($installed.Count -eq 0) { continue }
        # 7: applied (1), superseded (2) and obsolete (4).
        $registered = @(Get-InstallerProperty $installer 'PatchesEx' @($pair.Product, '', $context, 7) |
            ForEach-Object { Get-InstallerProperty $_ 'PatchCode' $null })
        if ($registered -notcontains $pair.Patch) { exit 0 }
        $checked++
        break
    }
}
if ($checked -gt 0) { 'installed' }
exit 0
)";
    return script;
}

}  // namespace

std::string PackedGuid(const std::string& code)
{
    const size_t guidLength = 38;
    if (code.size() != guidLength || PatchCodeFrom(code) != code)
        return std::string();
    // {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}: the first three groups reversed whole.
    std::string packed;
    for (auto group : {std::make_pair(1, 8), std::make_pair(10, 4), std::make_pair(15, 4)}) {
        std::string digits = code.substr(size_t(group.first), size_t(group.second));
        packed.append(digits.rbegin(), digits.rend());
    }
    // The last two groups byte by byte, each byte's two digits swapped.
    std::string bytes = code.substr(20, 4) + code.substr(25, 12);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        packed.push_back(bytes[i + 1]);
        packed.push_back(bytes[i]);
    }
    for (char& c : packed)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return packed;
}

std::string PatchStateKey(const std::string& productCode, const std::string& patchCode)
{
    std::string product = PackedGuid(productCode), patch = PackedGuid(patchCode);
    if (product.empty() || patch.empty())
        return std::string();
    return kMachinePatches + product + "\\Patches\\" + patch;
}

bool DescribeDetection(const UpdaterReport& report, Detection& detection, std::string& error)
{
    detection = Detection{};
    detection.productName = Utf16ToUtf8(report.payload.name);
    detection.productVersion = Utf16ToUtf8(report.payload.version);
    if (report.entries.empty()) {
        error = "carries no patches, so there is nothing to detect";
        return false;
    }
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const EntryReport& entry = report.entries[i];
        std::string name = Utf16ToUtf8(entry.record.fileName);
        std::string which = "entry " + std::to_string(i) + " " + JsonString(name) + ": ";
        if (!entry.targetsProblem.empty()) {
            error = which + "the file " + entry.targetsProblem +
                    "; the updater cannot apply it, so it has no detection rule";
            return false;
        }
        if (entry.patchCode.empty()) {
            error = which + "the patch has no patch code (its revision number does not begin with a GUID in braces)";
            return false;
        }
        for (const std::string& target : entry.targets) {
            if (target.empty())
                continue;
            DetectionClause clause;
            clause.entry = i;
            clause.patchName = name;
            clause.patchCode = entry.patchCode;
            clause.productCode = target;
            clause.keyPath = PatchStateKey(target, entry.patchCode);
            if (clause.keyPath.empty()) {
                error = which + "its target \"" + Printable(target) + "\" is not a product code";
                return false;
            }
            // A patch carried twice, or a product named twice, is one registration.
            bool known = std::any_of(detection.clauses.begin(), detection.clauses.end(),
                                     [&clause](const DetectionClause& c) { return c.keyPath == clause.keyPath; });
            if (!known)
                detection.clauses.push_back(std::move(clause));
        }
    }
    detection.script = MakeScript(detection);
    return true;
}

}  // namespace pack
