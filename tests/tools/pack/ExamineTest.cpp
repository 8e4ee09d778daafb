// inspect: what follows the payload, what it warns about, its two output forms, and the
// program's exit codes and messages as a release script sees them.
#include "Builder.h"
#include "Examiner.h"
#include "PatchTargets.h"
#include "PayloadFormat.h"
#include "ReportFormat.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

using packtest::Bytes;

Bytes Updater(const std::vector<pack::PayloadEntry>& entries, const Bytes& data)
{
    Bytes file = packtest::MakeImage(0x800);
    Bytes header = pack::EncodePayloadHeader(u"Product", u"1.0", entries);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

bool Inspect(const Bytes& file, pack::UpdaterReport& report, std::string& error)
{
    pack::InputFile input(file.data(), file.size());
    return pack::InspectUpdater(input, report, error);
}

TEST(Inspect, RecognisesACertificateTableBehindAlignmentPadding)
{
    Bytes file = Updater({{u"a.bin", 3}}, {1, 2, 3});
    size_t end = file.size();
    size_t table = (end + 7) & ~size_t(7);
    file.resize(table + 0x100, 0x30);
    std::fill(file.begin() + long(end), file.begin() + long(table), 0);
    packtest::PutU32At(file, packtest::kSecurityDirectory, uint32_t(table));
    packtest::PutU32At(file, packtest::kSecurityDirectory + 4, 0x100);
    pack::UpdaterReport report;
    std::string error;
    ASSERT_TRUE(Inspect(file, report, error)) << error;
    EXPECT_EQ(report.trailer.kind, pack::TrailerKind::CertificateTable);
    EXPECT_EQ(report.trailer.offset, table);
    EXPECT_EQ(report.trailer.padding, table - end);
    EXPECT_NE(pack::FormatReportText("u.exe", report).find("after the payload: certificate table of 256 bytes"),
              std::string::npos);

    // A directory that points elsewhere does not make the bytes behind the payload a table.
    packtest::PutU32At(file, packtest::kSecurityDirectory, uint32_t(table + 8));
    ASSERT_TRUE(Inspect(file, report, error)) << error;
    EXPECT_EQ(report.trailer.kind, pack::TrailerKind::Unexpected);
    EXPECT_EQ(report.trailer.offset, end);
}

TEST(Inspect, WarnsAboutWhatWouldMakeTheUpdaterFail)
{
    Bytes file = Updater({{u"a.msp", 2}, {u"A.MSP", 0}, {u"nul.txt", 0}, {u"fix;1.msp", 0}}, {'h', 'i', 9, 9});
    file[0x800] = 15;  // odd name length: one more byte, which belongs to no character
    file.insert(file.begin() + 0x800 + 15, 'z');
    pack::UpdaterReport report;
    std::string error;
    ASSERT_TRUE(Inspect(file, report, error)) << error;
    std::string all;
    for (const std::string& w : report.warnings)
        all += w + "\n";
    EXPECT_NE(all.find("name's length byte is odd"), std::string::npos) << all;
    EXPECT_NE(all.find("entry 0: the file is not a compound file"), std::string::npos) << all;
    EXPECT_NE(all.find("entry 1: its name equals that of entry 0"), std::string::npos) << all;
    EXPECT_NE(all.find("entry 2: the file name is a reserved Windows device name"), std::string::npos) << all;
    EXPECT_NE(all.find("entry 3: the file name holds ';', which Windows Installer takes as the end of a patch's path; "
                       "the updater can only extract it"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("unexpected bytes follow the payload"), std::string::npos) << all;
    EXPECT_EQ(report.trailer.size, 2u);
}

TEST(Inspect, RefusesFilesThatCarryNoReadablePayload)
{
    Bytes image = packtest::MakeImage(0x800);
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;
    } cases[] = {
        {"bare stub", image, "carries no payload"},
        {"cut-off stub", Bytes(image.begin(), image.begin() + 0x600), "is truncated"},
        {"cut-off payload", Bytes(image.begin(), image.end()), "cut off before the entry count"},
        {"not an image", Bytes(0x900, 0), "is not a PE image"},
    };
    cases[2].file.insert(cases[2].file.end(), {2, 'x', 0, 0});
    for (const Case& c : cases) {
        pack::UpdaterReport report;
        std::string error;
        EXPECT_FALSE(Inspect(c.file, report, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(Inspect, TakesThePatchCodeFromTheStartOfTheRevisionNumber)
{
    const std::string code = "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}";
    struct Case {
        std::string revisionNumber;
        std::string patchCode;
    } cases[] = {
        {code, code},
        {code + "{11111111-2222-3333-4444-555555555555}", code},  // superseded patches follow
        {code + ";{11111111-2222-3333-4444-555555555555}", code},
        {"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}", "{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}"},  // as written
        {code.substr(1, 36), ""},                                                              // no braces
        {code.substr(0, 37), ""},                                                              // cut short
        {"{6F1C2A3B-4D5E-4F60-8A7B+9C0D1E2F3A4B}", ""},                                        // a dash out of place
        {"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4G}", ""},                                        // not hexadecimal
        {"1.0", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pack::PatchCodeFrom(c.revisionNumber), c.patchCode) << c.revisionNumber;
}

TEST(Inspect, PrintsTextAndJsonWithHashesAndTargets)
{
    Bytes patch = packtest::MakePatch("{A1};;{B\"2}", 0,
                                      "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}{11111111-2222-3333-4444-555555555555}");
    Bytes file = Updater({{u"p\u00E9.msp", uint32_t(patch.size())}, {u"e.bin", 3}}, {});
    file.insert(file.end(), patch.begin(), patch.end());
    file.insert(file.end(), {'a', 'b', 'c'});
    pack::UpdaterReport report;
    std::string error;
    ASSERT_TRUE(Inspect(file, report, error)) << error;
    ASSERT_EQ(report.entries.size(), 2u);
    EXPECT_EQ(report.entries[1].sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    std::string text = pack::FormatReportText("u.exe", report);
    EXPECT_NE(text.find("payload offset: 0x800\n"), std::string::npos) << text;
    EXPECT_NE(text.find("product name: \"Product\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[0] \"p\xC3\xA9.msp\" size"), std::string::npos) << text;
    EXPECT_NE(text.find("      patch code {6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}\n"
                        "      targets \"{A1}\" \"\" \"{B\\\"2}\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[1] \"e.bin\" size 3 offset"), std::string::npos) << text;
    EXPECT_NE(text.find("after the payload: nothing"), std::string::npos) << text;

    std::string json = pack::FormatReportJson("dir\\u.exe", report);
    EXPECT_NE(json.find("\"file\": \"dir\\\\u.exe\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"payloadOffset\": 2048"), std::string::npos) << json;
    EXPECT_NE(json.find("\"patchCode\": \"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}\", "
                        "\"targets\": [\"{A1}\", \"\", \"{B\\\"2}\"]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"patchCode\": null, \"targets\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"afterPayload\": {\"kind\": \"none\""), std::string::npos) << json;

    // A patch without a revision number still shows its targets, and no patch code.
    Bytes plain = packtest::MakePatch("{A1}");
    file = Updater({{u"plain.msp", uint32_t(plain.size())}}, plain);
    ASSERT_TRUE(Inspect(file, report, error)) << error;
    text = pack::FormatReportText("u.exe", report);
    EXPECT_NE(text.find("      patch code (none)\n      targets \"{A1}\"\n"), std::string::npos) << text;
    json = pack::FormatReportJson("u.exe", report);
    EXPECT_NE(json.find("\"patchCode\": null, \"targets\": [\"{A1}\"]"), std::string::npos) << json;
}

// The program itself, as a build script runs it.
class Program : public ::testing::Test {
protected:
    int Run(const std::string& args)
    {
        std::string command =
            std::string(PACK_PROGRAM) + " " + args + " >" + (folder / "stdout") + " 2>" + (folder / "stderr");
        int status = std::system(command.c_str());
        out = Text("stdout");
        err = Text("stderr");
        std::filesystem::remove(folder / "stdout");
        std::filesystem::remove(folder / "stderr");
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

TEST_F(Program, ExitsWithZeroOneOrTwo)
{
    std::string stub = folder.Write("stub.exe", packtest::MakeImage(0x1000));
    std::string patch = folder.Write("fix.msp", packtest::MakePatch("{A1}"));
    std::string output = folder / "out.exe";

    EXPECT_EQ(Run("--help"), 0);
    EXPECT_EQ(out.find("usage: tessarvane-pack build"), 0u) << out;

    EXPECT_EQ(Run("build --stub " + stub + " --name N --version 1 " + patch), 2);
    EXPECT_EQ(err.find("tessarvane-pack: build needs --output\nusage:"), 0u) << err;

    EXPECT_EQ(Run("build --stub " + stub + " --name N --version 1 --output " + output + " " + patch + " " +
                  folder / "gone.msp"),
              1);
    EXPECT_EQ(err, "tessarvane-pack: " + folder / "gone.msp" + ": cannot be read: no such file\n");
    EXPECT_FALSE(std::filesystem::exists(output));

    EXPECT_EQ(Run("build --stub " + stub + " --name 'My Product' --version 1.0 --output " + output + " " + patch), 0);
    EXPECT_EQ(out + err, "");

    EXPECT_EQ(Run("inspect --json " + output), 0);
    EXPECT_NE(out.find("\"productName\": \"My Product\""), std::string::npos) << out;
    EXPECT_EQ(Run("inspect " + stub), 1);
    EXPECT_EQ(err,
              "tessarvane-pack: " + stub + ": carries no payload: the file ends where its last section's data end\n");
    EXPECT_EQ(out, "");
}

// Signing after packing, as the release documentation describes it, gives an updater whose
// payload is untouched and whose certificate table inspect recognises.
TEST_F(Program, ReadsAnUpdaterSignedAfterPacking)
{
    if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
        GTEST_SKIP() << "osslsigncode or openssl is not installed";
    std::string stub = folder.Write("stub.exe", packtest::MakeImage(0x1000));
    std::string patch = folder.Write("fix.msp", packtest::MakePatch("{A1}"));
    std::string output = folder / "out.exe";
    ASSERT_EQ(Run("build --stub " + stub + " --name N --version 1 --output " + output + " " + patch), 0) << err;
    std::string key = folder / "key.pem", cert = folder / "cert.pem", signedPath = folder / "signed.exe";
    std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -days 2 -keyout " + key + " -out " +
                       cert + " >/dev/null 2>&1 && osslsigncode sign -certs " + cert + " -key " + key + " -in " +
                       output + " -out " + signedPath + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);

    ASSERT_EQ(Run("inspect " + signedPath), 0) << err;
    EXPECT_NE(out.find("after the payload: certificate table of"), std::string::npos) << out;
    EXPECT_NE(out.find("targets \"{A1}\""), std::string::npos) << out;
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;

    EXPECT_EQ(Run("build --stub " + signedPath + " --name N --version 1 --output " + folder / "x.exe" + " " + patch),
              1);
    EXPECT_NE(err.find("already carries a payload"), std::string::npos) << err;
}

}  // namespace
