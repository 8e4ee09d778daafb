// detection: the packed codes Windows Installer's registry keys use, the clauses of a built
// updater in both output forms, the script's text (it needs Windows Installer's automation
// interface, so it cannot run here or under Wine), and the updaters it refuses.
#include "Detection.h"
#include "Examiner.h"
#include "PayloadFormat.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

using packtest::Bytes;

const std::string kPatchA = "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}";
const std::string kPatchB = "{0A1B2C3D-0000-4000-8000-00000000B0B0}";
const std::string kProduct1 = "{7E550000-0000-4000-8000-0000000000B5}";
const std::string kProduct2 = "{7E550000-0000-4000-8000-0000000000C1}";
const std::string kProduct3 = "{90120000-0030-0000-0000-0000000FF1CE}";

const std::string kUserData =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

TEST(Detection, PacksCodesTheWayWindowsInstallerNamesItsKeys)
{
    struct Case {
        std::string code;
        std::string packed;
    } cases[] = {
        // The key that Windows Installer keeps for Office 2007's product code, widely seen in
        // the registry of machines that have it.
        {"{90120000-0030-0000-0000-0000000FF1CE}", "00002109030000000000000000F01FEC"},
        // A test product's key as Wine's Windows Installer writes it (the products scenario
        // plants registrations under this name).
        {kProduct1, "000055E700000004080000000000005B"},
        {"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}", "B3A2C1F6E5D406F4A8B7C9D0E1F2A3B4"},  // upper case
        {"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B", ""},
        {"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}x", ""},
        {"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4G}", ""},
        {"{6F1C2A3B4D5E-4F60-8A7B-9C0D1E2F3A4B-}", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pack::PackedGuid(c.code), c.packed) << c.code;

    EXPECT_EQ(pack::PatchStateKey(kProduct3, kProduct1),
              kUserData + "00002109030000000000000000F01FEC\\Patches\\000055E700000004080000000000005B");
    EXPECT_EQ(pack::PatchStateKey(kProduct3, "{A1}"), "");
}

Bytes Updater(const std::u16string& name, const std::vector<std::pair<std::u16string, Bytes>>& files)
{
    std::vector<pack::PayloadEntry> entries;
    for (const auto& file : files)
        entries.push_back({file.first, uint32_t(file.second.size())});
    Bytes updater = packtest::MakeImage(0x800);
    Bytes header = pack::EncodePayloadHeader(name, u"2.0", entries);
    updater.insert(updater.end(), header.begin(), header.end());
    for (const auto& file : files)
        updater.insert(updater.end(), file.second.begin(), file.second.end());
    return updater;
}

bool Describe(const Bytes& updater, pack::Detection& detection, std::string& error)
{
    pack::InputFile input(updater.data(), updater.size());
    pack::UpdaterReport report;
    return pack::InspectUpdater(input, report, error) && pack::DescribeDetection(report, detection, error);
}

TEST(Detection, RefusesUpdatersWhosePatchesCannotBeDetected)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::u16string, Bytes>> files;
        std::string reason;
    } cases[] = {
        {"no files", {}, "carries no patches"},
        {"a patch without a patch code",
         {{u"a.msp", packtest::MakePatch(kProduct1, 0, kPatchA)}, {u"b.msp", packtest::MakePatch(kProduct2)}},
         "entry 1 \"b.msp\": the patch has no patch code"},
        {"a file packed with --allow-any-file",
         {{u"readme.txt", Bytes{'h', 'i'}}},
         "entry 0 \"readme.txt\": the file is not a compound file; the updater cannot apply it"},
        {"a patch that names no product",
         {{u"a.msp", packtest::MakePatch(";", 0, kPatchA)}},
         "entry 0 \"a.msp\": the file names no target product"},
        {"a target that is no product code",
         {{u"a.msp", packtest::MakePatch(kProduct1 + ";Widgets\n", 0, kPatchA)}},
         "entry 0 \"a.msp\": its target \"Widgets?\" is not a product code"},
    };
    for (const Case& c : cases) {
        pack::Detection detection;
        std::string error;
        EXPECT_FALSE(Describe(Updater(u"Product", c.files), detection, error)) << c.what;
        EXPECT_EQ(error.find(c.reason), 0u) << c.what << ": " << error;
    }
}

TEST(Detection, HasOneClausePerPatchAndProductInPayloadOrder)
{
    // Empty pieces of a target list name nothing; a product named twice, or a patch carried
    // twice, is registered once.
    Bytes a = packtest::MakePatch(kProduct1 + ";;" + kProduct2 + ";" + kProduct1, 0, kPatchA + kPatchB);
    Bytes b = packtest::MakePatch(kProduct3, 0, kPatchB);
    pack::Detection detection;
    std::string error;
    ASSERT_TRUE(Describe(Updater(u"Product", {{u"a.msp", a}, {u"b.msp", b}, {u"a-again.msp", a}}), detection, error))
        << error;
    ASSERT_EQ(detection.clauses.size(), 3u);
    const struct {
        size_t entry;
        std::string patchCode, productCode;
    } expected[] = {{0, kPatchA, kProduct1}, {0, kPatchA, kProduct2}, {1, kPatchB, kProduct3}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(detection.clauses[i].entry, expected[i].entry) << i;
        EXPECT_EQ(detection.clauses[i].patchCode, expected[i].patchCode) << i;
        EXPECT_EQ(detection.clauses[i].productCode, expected[i].productCode) << i;
        EXPECT_EQ(detection.clauses[i].keyPath, pack::PatchStateKey(expected[i].productCode, expected[i].patchCode));
    }
}

// A product name is the packer's input; in the script it stays inside its comment.
TEST(Detection, KeepsAProductNameInsideTheScriptsComment)
{
    pack::Detection detection;
    std::string error;
    Bytes patch = packtest::MakePatch(kProduct1, 0, kPatchA);
    ASSERT_TRUE(
        Describe(Updater(u"Evil\r\nRemove-Item C:\\ -Recurse\u2028exit 0", {{u"a.msp", patch}}), detection, error))
        << error;
    std::istringstream lines(detection.script);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("Remove-Item") != std::string::npos) {
            EXPECT_EQ(line.rfind("# Detection rule for Evil  Remove-Item", 0), 0u) << line;
        }
    }
    EXPECT_NE(detection.script.find("Remove-Item C:\\ -Recurse exit 0 2.0, written by"), std::string::npos)
        << detection.script;
}

// The program itself, on an updater that `build` made: one patch for two products and one for
// a third.
class DetectionProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string stub = folder.Write("stub.exe", packtest::MakeImage(0x1000));
        std::string a = folder.Write("both.msp", packtest::MakePatch(kProduct1 + ";" + kProduct2, 0, kPatchA));
        std::string b = folder.Write("third.msp", packtest::MakePatch(kProduct3, 0, kPatchB));
        ASSERT_EQ(Run("build --stub " + stub + " --name 'Tess Suite' --version 2.0 --output " + Updater() + " " + a +
                      " " + b),
                  0)
            << err;
    }
    std::string Updater() { return folder / "suite.exe"; }
    int Run(const std::string& args)
    {
        std::string command =
            std::string(PACK_PROGRAM) + " " + args + " >" + (folder / "stdout") + " 2>" + (folder / "stderr");
        int status = std::system(command.c_str());
        out = Text("stdout");
        err = Text("stderr");
        return WEXITSTATUS(status);
    }
    std::string Text(const std::string& name)
    {
        Bytes b = packtest::ReadAll(folder / name);
        return std::string(b.begin(), b.end());
    }
    packtest::ScratchFolder folder;
    std::string out, err;
};

std::string Key(const std::string& product, const std::string& patch)
{
    return pack::PatchStateKey(product, patch);
}

// The script's behaviour needs Windows; here, that it asks for every pair in every context and
// takes superseded and obsolete patches (filter 7) as installed.
TEST_F(DetectionProgram, PrintsEachClauseAndAScriptThatAsksForEveryPair)
{
    ASSERT_EQ(Run("detection " + Updater()), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("product: \"Tess Suite\" version \"2.0\"\nclauses: 3 "), std::string::npos) << out;
    EXPECT_NE(out.find("[0] \"both.msp\" patch " + kPatchA + " on product " + kProduct1 + "\n    key     " +
                       Key(kProduct1, kPatchA) +
                       "\n    value   State (REG_DWORD), present when 1 (applied), 2 (superseded) or 4 (obsolete)\n"
                       "    intune  State integer greaterThanOrEqual 1 and State integer lessThanOrEqual 4\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[1] \"both.msp\" patch " + kPatchA + " on product " + kProduct2 + "\n    key     " +
                       Key(kProduct2, kPatchA) + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[2] \"third.msp\" patch " + kPatchB + " on product " + kProduct3 + "\n    key     " +
                       Key(kProduct3, kPatchB) + "\n"),
              std::string::npos)
        << out;

    size_t script = out.find("\n# Detection rule for Tess Suite 2.0, written by tessarvane-pack detection.\n");
    ASSERT_NE(script, std::string::npos) << out;
    for (const auto& pair :
         {std::make_pair(kPatchA, kProduct1), std::make_pair(kPatchA, kProduct2), std::make_pair(kPatchB, kProduct3)})
        EXPECT_NE(out.find("@{ Patch = '" + pair.first + "'; Product = '" + pair.second + "' }", script),
                  std::string::npos)
            << out;
    EXPECT_NE(out.find("foreach ($context in 1, 2, 4)", script), std::string::npos) << out;
    EXPECT_NE(out.find("'PatchesEx' @($pair.Product, '', $context, 7)", script), std::string::npos) << out;
    EXPECT_NE(out.find("if ($checked -gt 0) { 'installed' }\nexit 0\n", script), std::string::npos) << out;
}

// --json read back by a JSON parser, as a deployment script would read it.
TEST_F(DetectionProgram, WritesJsonThatAParserReadsBack)
{
    if (std::system("command -v python3 >/dev/null") != 0)
        GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(Run("detection --json " + Updater()), 0) << err;
    std::string reader = folder.Write("read.py", [] {
        std::string code = R"(import json, sys
d = json.load(open(sys.argv[1]))
print(d["productName"], d["productVersion"], len(d["clauses"]))
for c in d["clauses"]:
    print(c["entry"], c["patch"], c["patchCode"], c["productCode"], c["keyPath"], c["valueName"],
          c["valueType"], c["registryView"], c["acceptedStates"])
    for r in c["intuneRules"]:
        assert r["keyPath"] == c["keyPath"] and r["valueName"] == "State"
        print(" ", r["@odata.type"], r["ruleType"], r["check32BitOn64System"], r["operationType"],
              r["operator"], r["comparisonValue"])
print(d["script"].splitlines()[0])
)";
        return Bytes(code.begin(), code.end());
    }());
    std::string json = folder.Write("detection.json", Bytes(out.begin(), out.end()));
    int status = std::system(("python3 " + reader + " " + json + " >" + folder / "parsed 2>&1").c_str());
    std::string parsed = Text("parsed");
    ASSERT_EQ(WEXITSTATUS(status), 0) << parsed;
    const std::string rules =
        "  #microsoft.graph.win32LobAppRegistryRule detection False integer greaterThanOrEqual 1\n"
        "  #microsoft.graph.win32LobAppRegistryRule detection False integer lessThanOrEqual 4\n";
    const std::string tail = " State REG_DWORD 64-bit [1, 2, 4]\n" + rules;
    EXPECT_EQ(parsed,
              "Tess Suite 2.0 3\n"
              "0 both.msp " +
                  kPatchA + " " + kProduct1 + " " + Key(kProduct1, kPatchA) + tail + "0 both.msp " + kPatchA + " " +
                  kProduct2 + " " + Key(kProduct2, kPatchA) + tail + "1 third.msp " + kPatchB + " " + kProduct3 + " " +
                  Key(kProduct3, kPatchB) + tail +
                  "# Detection rule for Tess Suite 2.0, written by tessarvane-pack detection.\n");
}

TEST_F(DetectionProgram, FailsWithOneLineForAnUpdaterWithoutPatchCodes)
{
    std::string stub = folder.Write("stub2.exe", packtest::MakeImage(0x1000));
    std::string plain = folder.Write("plain.msp", packtest::MakePatch(kProduct1));
    std::string output = folder / "plain.exe";
    ASSERT_EQ(Run("build --stub " + stub + " --name N --version 1 --output " + output + " " + plain), 0) << err;
    EXPECT_EQ(Run("detection " + output), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "tessarvane-pack: " + output +
                       ": entry 0 \"plain.msp\": the patch has no patch code (its revision number does not begin "
                       "with a GUID in braces)\n");
    EXPECT_EQ(Run("detection"), 2);
    EXPECT_NE(err.find("detection needs the updater to read"), std::string::npos) << err;
}

}  // namespace
