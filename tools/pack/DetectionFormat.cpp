// detection's two output forms: text for the administrator who sets up a deployment, JSON for
// the tools that set it up. Intune's rules are written as Microsoft Graph takes them in a Win32
// app's `rules` (win32LobAppRegistryRule).
#include "Detection.h"

#include "ReportFormat.h"

namespace pack {

namespace {

std::string StatesText()
{
    return "1 (applied), 2 (superseded) or 4 (obsolete)";
}

std::string StatesJson()
{
    std::string out = "[";
    for (int state : kPresentPatchStates)
        out += (out.size() > 1 ? ", " : "") + std::to_string(state);
    return out + "]";
}

std::string IntuneRuleJson(const DetectionClause& clause, const IntuneComparison& comparison)
{
    return std::string(
               "{\"@odata.type\": \"#microsoft.graph.win32LobAppRegistryRule\", \"ruleType\": \"detection\", ") +
           "\"check32BitOn64System\": false, \"keyPath\": " + JsonString(clause.keyPath) +
           ", \"valueName\": " + JsonString(kPatchStateValue) + ", \"operationType\": \"integer\", \"operator\": \"" +
           comparison.graphOperator + "\", \"comparisonValue\": \"" + std::to_string(comparison.value) + "\"}";
}

}  // namespace

std::string FormatDetectionText(const std::string& inputName, const Detection& detection)
{
    std::string out;
    out += "updater: " + inputName + "\n";
    out += "product: " + JsonString(detection.productName) + " version " + JsonString(detection.productVersion) + "\n";
    out +=
        "clauses: " + std::to_string(detection.clauses.size()) + " (each carried patch on each product it targets)\n";
    for (size_t i = 0; i < detection.clauses.size(); ++i) {
        const DetectionClause& clause = detection.clauses[i];
        out += "\n[" + std::to_string(i) + "] " + JsonString(clause.patchName) + " patch " + clause.patchCode +
               " on product " + clause.productCode + "\n";
        out += "    key     " + clause.keyPath + "\n";
        out += "    value   " + std::string(kPatchStateValue) + " (REG_DWORD), present when " + StatesText() + "\n";
        std::string rules;
        for (const IntuneComparison& comparison : kIntuneComparisons)
            rules += (rules.empty() ? "" : " and ") + std::string(kPatchStateValue) + " integer " +
                     comparison.graphOperator + " " + std::to_string(comparison.value);
        out += "    intune  " + rules + "\n";
    }
    out +=
        "\n"
        "The registry clauses hold for per-machine installations. Windows Installer keeps them in\n"
        "the 64-bit registry view: a 32-bit reader on 64-bit Windows opens the key with\n"
        "KEY_WOW64_64KEY (Intune: check32BitOn64System false; Configuration Manager: \"This\n"
        "registry key is associated with a 32-bit application on 64-bit systems\" left clear).\n"
        "Intune detects an app only when all of its rules hold: these rules together need every\n"
        "patch on every target product.\n"
        "\n"
        "PowerShell detection script (per-machine and per-user installations; Intune and\n"
        "Configuration Manager count the update as present when it writes a line and exits with 0):\n"
        "\n";
    out += detection.script;
    return out;
}

std::string FormatDetectionJson(const std::string& inputName, const Detection& detection)
{
    std::string out = "{\n";
    out += "  \"file\": " + JsonString(inputName) + ",\n";
    out += "  \"productName\": " + JsonString(detection.productName) + ",\n";
    out += "  \"productVersion\": " + JsonString(detection.productVersion) + ",\n";
    out += "  \"clauses\": [";
    for (size_t i = 0; i < detection.clauses.size(); ++i) {
        const DetectionClause& clause = detection.clauses[i];
        out += i ? ",\n" : "\n";
        out += "    {\n";
        out += "      \"entry\": " + std::to_string(clause.entry) + ",\n";
        out += "      \"patch\": " + JsonString(clause.patchName) + ",\n";
        out += "      \"patchCode\": " + JsonString(clause.patchCode) + ",\n";
        out += "      \"productCode\": " + JsonString(clause.productCode) + ",\n";
        out += "      \"keyPath\": " + JsonString(clause.keyPath) + ",\n";
        out += "      \"valueName\": " + JsonString(kPatchStateValue) + ",\n";
        out += "      \"valueType\": \"REG_DWORD\",\n";
        out += "      \"registryView\": \"64-bit\",\n";
        out += "      \"acceptedStates\": " + StatesJson() + ",\n";
        out += "      \"intuneRules\": [\n";
        for (size_t k = 0; k < 2; ++k)
            out += "        " + IntuneRuleJson(clause, kIntuneComparisons[k]) + (k ? "\n" : ",\n");
        out += "      ]\n";
        out += "    }";
    }
    out += "\n  ],\n";
    out += "  \"script\": " + JsonString(detection.script) + "\n";
    out += "}\n";
    return out;
}

}  // namespace pack
