// build: what it writes, read back with inspect, and every check that stops it. A refused
// build must leave the output folder exactly as it was.
#include "Builder.h"
#include "Examiner.h"
#include "OutputFile.h"
#include "ReportFormat.h"
#include "TestFiles.h"
#include "Verifier.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using packtest::Bytes;

// Where MakeImage's images keep the PE checksum: NT headers at 0x40, optional header behind the
// 20-byte file header, CheckSum 64 bytes into it (PE32 and PE32+ alike).
constexpr size_t kChecksumAt = 0x40 + 24 + 64;

// The PE checksum as the format describes it, word by word with end-around carry.
uint32_t ChecksumByWords(const Bytes& file)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == kChecksumAt || i == kChecksumAt + 2)
            continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

uint32_t StoredChecksum(const Bytes& file)
{
    return uint32_t(file[kChecksumAt]) | uint32_t(file[kChecksumAt + 1]) << 8 | uint32_t(file[kChecksumAt + 2]) << 16 |
           uint32_t(file[kChecksumAt + 3]) << 24;
}

class Build : public ::testing::Test {
protected:
    void SetUp() override
    {
        request.stub = folder.Write("TessarvaneUpdater.exe", packtest::MakeImage(0x1000));
        request.name = "Tessarvane Example";
        request.version = "2.1.0";
        request.output = folder / "out.exe";
        request.files = {folder.Write("One.msp", packtest::MakePatch("{A1};{B2}")),
                         folder.Write("sub/Two.msp", packtest::MakePatch("{C3}", 9000))};
    }

    // Builds and expects a refusal whose line contains `what`; nothing may appear.
    void ExpectRefused(const std::string& what)
    {
        std::vector<std::string> before = folder.Names();
        std::vector<std::string> warnings;
        std::string error;
        EXPECT_FALSE(pack::BuildUpdater(request, warnings, error));
        EXPECT_NE(error.find(what), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(folder.Names(), before);
    }

    bool Built(std::vector<std::string>* warningsOut = nullptr)
    {
        std::vector<std::string> warnings;
        std::string error;
        bool ok = pack::BuildUpdater(request, warnings, error);
        EXPECT_TRUE(ok) << error;
        if (warningsOut)
            *warningsOut = warnings;
        return ok;
    }

    packtest::ScratchFolder folder;
    pack::BuildRequest request;
};

TEST_F(Build, WritesTheStubThenAPayloadThatInspectReadsBack)
{
    ASSERT_TRUE(Built());
    Bytes out = packtest::ReadAll(request.output);
    Bytes stub = packtest::ReadAll(request.stub);
    ASSERT_GT(out.size(), stub.size());
    Bytes outStub(out.begin(), out.begin() + long(stub.size()));
    packtest::PutU32At(outStub, kChecksumAt, 0);  // the output's own
    EXPECT_EQ(outStub, stub);

    pack::InputFile input;
    std::string error;
    ASSERT_TRUE(input.Open(request.output, error)) << error;
    pack::UpdaterReport report;
    ASSERT_TRUE(pack::InspectUpdater(input, report, error)) << error;
    EXPECT_EQ(report.payload.offset, 0x1000u);
    EXPECT_EQ(report.payload.name, u"Tessarvane Example");
    EXPECT_EQ(report.payload.version, u"2.1.0");
    ASSERT_EQ(report.entries.size(), 2u);
    EXPECT_EQ(report.entries[0].record.fileName, u"One.msp");
    EXPECT_EQ(report.entries[1].record.fileName, u"Two.msp");
    Bytes two = packtest::ReadAll(request.files[1]);
    EXPECT_EQ(report.entries[1].record.fileSize, two.size());
    EXPECT_TRUE(std::equal(two.begin(), two.end(), out.begin() + long(report.entries[1].record.dataOffset)));
    EXPECT_EQ(report.entries[0].targets, (std::vector<std::string>{"{A1}", "{B2}"}));
    EXPECT_EQ(report.entries[1].targets, (std::vector<std::string>{"{C3}"}));
    EXPECT_EQ(report.payload.end, out.size());
    EXPECT_EQ(report.trailer.kind, pack::TrailerKind::None);
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"One.msp", "TessarvaneUpdater.exe", "out.exe", "sub"}));
}

TEST_F(Build, PacksAnX64StubBehindItsOwnSectionTable)
{
    folder.Write("TessarvaneUpdater.exe", packtest::MakeImage64({{0x400, 0x200}, {0x800, 0x800}}));
    ASSERT_TRUE(Built());
    pack::InputFile input;
    std::string error;
    ASSERT_TRUE(input.Open(request.output, error)) << error;
    pack::UpdaterReport report;
    ASSERT_TRUE(pack::InspectUpdater(input, report, error)) << error;
    EXPECT_EQ(report.pe.machine, pack::PeMachine::X64);
    EXPECT_EQ(report.payload.offset, 0x1000u);
    EXPECT_EQ(report.entries.size(), 2u);
    EXPECT_NE(pack::FormatReportText("out.exe", report).find("machine: x64\n"), std::string::npos);
    EXPECT_NE(pack::FormatReportJson("out.exe", report).find("\"machine\": \"x64\""), std::string::npos);
}

// The stub's checksum (here a stale one) is replaced by the whole output's, for odd and even
// lengths, in both image flavours; verify accepts it and refuses a file changed afterwards.
TEST_F(Build, WritesThePeChecksumOfTheWholeOutputThatVerifyChecks)
{
    for (bool plus : {false, true}) {
        for (size_t filler : {9000, 9001}) {  // one output of odd length
            SCOPED_TRACE(std::string(plus ? "PE32+" : "PE32") + ", filler " + std::to_string(filler));
            Bytes stub = plus ? packtest::MakeImage64({{0x400, 0x200}, {0x800, 0x800}}) : packtest::MakeImage(0x1000);
            packtest::PutU32At(stub, kChecksumAt, 0x12345);
            folder.Write("TessarvaneUpdater.exe", stub);
            request.allowAnyFile = true;
            request.files = {folder.Write("data.bin", Bytes(filler, 0xA5))};
            ASSERT_TRUE(Built());
            Bytes out = packtest::ReadAll(request.output);
            EXPECT_EQ(StoredChecksum(out), ChecksumByWords(out));

            for (bool changed : {false, true}) {
                if (changed)
                    out[out.size() - 3] ^= 0x40;
                pack::InputFile input(out.data(), out.size());
                pack::VerifyReport report;
                std::string error;
                ASSERT_TRUE(pack::VerifyUpdater(input, false, report, error)) << error;
                EXPECT_EQ(report.checksumState, changed ? pack::ChecksumState::Differs : pack::ChecksumState::Matches);
                EXPECT_EQ(report.ok, !changed);
                std::string text = pack::FormatVerifyText("out.exe", report);
                EXPECT_NE(text.find(changed ? "PE checksum: " : "(matches)"), std::string::npos) << text;
                if (changed) {
                    EXPECT_NE(text.find("problem: the PE checksum"), std::string::npos) << text;
                }
            }
        }
    }
}

TEST_F(Build, AnUpdaterMayCarryNoFilesAtAll)
{
    request.files.clear();
    ASSERT_TRUE(Built());
    Bytes out = packtest::ReadAll(request.output);
    Bytes stub = packtest::ReadAll(request.stub);
    // N1, the name, N2, the version and an entry count of zero: nothing else.
    ASSERT_EQ(out.size(), stub.size() + 1 + 36 + 1 + 10 + 4);
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0));
}

TEST_F(Build, ReplacesAnExistingOutputOnlyWhenComplete)
{
    folder.Write("out.exe", Bytes{'o', 'l', 'd'});
    request.files.push_back(folder / "missing.msp");
    ExpectRefused("missing.msp: cannot be read");
    EXPECT_EQ(packtest::ReadAll(request.output), (Bytes{'o', 'l', 'd'}));
    request.files.pop_back();
    ASSERT_TRUE(Built());
    EXPECT_GT(packtest::ReadAll(request.output).size(), 0x1000u);
}

TEST_F(Build, RefusesStubsThatAreNoPlainPeImage)
{
    folder.Write("TessarvaneUpdater.exe", Bytes(5000, 'x'));
    ExpectRefused("TessarvaneUpdater.exe: is not a PE image");
    folder.Write("TessarvaneUpdater.exe", packtest::MakeImage({{0x200, 0x200}}, 0x20B, 224));
    ExpectRefused("224-byte optional header instead of 240");
    request.stub = folder / "nothing.exe";
    ExpectRefused("nothing.exe: cannot be read");
}

TEST_F(Build, SaysWhyTheStubDoesNotEndAtItsLastSection)
{
    Bytes image = packtest::MakeImage(0x1000);

    Bytes unstripped = image;
    unstripped.resize(image.size() + 300, 0x11);
    folder.Write("TessarvaneUpdater.exe", unstripped);
    ExpectRefused("has 300 unexpected bytes behind its last section's data at 0x1000");
    ExpectRefused("sign only after packing");

    Bytes signedStub = image;
    packtest::PutU32At(signedStub, packtest::kSecurityDirectory, 0x1000);
    packtest::PutU32At(signedStub, packtest::kSecurityDirectory + 4, 0x208);
    signedStub.resize(0x1208, 0x30);
    folder.Write("TessarvaneUpdater.exe", signedStub);
    ExpectRefused("is signed");

    folder.Write("TessarvaneUpdater.exe", image);
    ASSERT_TRUE(Built());
    request.stub = request.output;
    request.output = folder / "again.exe";
    ExpectRefused("already carries a payload (product \"Tessarvane Example\", 2 files)");

    Bytes truncated(image.begin(), image.begin() + 0x800);
    request.stub = folder.Write("cut.exe", truncated);
    ExpectRefused("is truncated: it ends at 0x800, before its last section's data end at 0x1000");
}

TEST_F(Build, RefusesNamesAndVersionsThePayloadCannotHold)
{
    request.name = std::string(127, 'n');
    request.version = std::string(63, '\xE2');  // not UTF-8
    ExpectRefused("--version");
    request.version = std::string(127, 'v');
    ASSERT_TRUE(Built());
    std::filesystem::remove(request.output);

    request.name = std::string(128, 'n');
    ExpectRefused("is 128 UTF-16 code units long");
    // Characters outside the basic plane take two units each.
    request.name.clear();
    for (int i = 0; i < 64; ++i)
        request.name += "\xF0\x9F\x98\x80";
    ExpectRefused("is 128 UTF-16 code units long");
    request.name = "bad \xC0\xAF";
    ExpectRefused("--name \"bad \xC0\xAF\": is not valid UTF-8");
}

TEST_F(Build, RefusesFileNamesWindowsCannotExtract)
{
    Bytes patch = packtest::MakePatch("{A1}");
    struct Case {
        const char* name;
        const char* reason;
    } cases[] = {
        {"NUL.msp", "reserved Windows device name"},
        {"lpt3", "reserved Windows device name"},
        {"a:b.msp", "':'"},
        {"trailing.", "ends in a dot"},
        // Windows keeps it, but Windows Installer would cut the patch list there.
        {"fix;1.msp", "holds ';', which Windows Installer takes as the end of a patch's path"},
    };
    for (const Case& c : cases) {
        request.files = {folder.Write(c.name, patch)};
        ExpectRefused(c.reason);
        std::filesystem::remove(folder / c.name);
    }
    std::string longName(260, 'x');
    request.files = {folder.Write("sub/" + longName.substr(0, 250), patch)};
    ASSERT_TRUE(Built());
}

TEST_F(Build, RefusesTwoFilesThatWouldBeOneOnWindows)
{
    request.files.push_back(folder.Write("other/ONE.MSP", packtest::MakePatch("{D4}")));
    ExpectRefused("ONE.MSP: its file name equals that of");
    request.files = {request.files[0], request.files[0]};
    ExpectRefused("One.msp: its file name equals that of");
}

TEST_F(Build, RefusesFilesItCannotReadOrSize)
{
    request.files = {folder / "sub/"};
    ExpectRefused("the file name is empty");
    request.files = {(folder.Path() / "sub").string()};
    ExpectRefused("cannot be read: it is a folder");
    std::string huge = folder / "huge.msp";
    folder.Write("huge.msp", {});
    std::filesystem::resize_file(huge, 0x100000000ull);  // sparse on the usual file systems
    request.files = {huge};
    ExpectRefused("huge.msp: is 4 GiB or larger");
}

TEST_F(Build, RefusesFilesThatAreNoPatchUnlessAskedToPackThem)
{
    request.files = {folder.Write("notes.txt", Bytes{'h', 'i'}), folder.Write("empty.bin", {}),
                     folder.Write("none.msp", packtest::MakePatch(";")),
                     folder.Write("broken.msp", {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0})};
    ExpectRefused("notes.txt: is not a Windows Installer patch");
    request.files.erase(request.files.begin());
    ExpectRefused("empty.bin: is not a Windows Installer patch");
    request.files.erase(request.files.begin());
    ExpectRefused("none.msp: names no target product");
    request.files.erase(request.files.begin());
    ExpectRefused("broken.msp: is not a readable patch");

    request.files = {folder / "notes.txt", folder / "empty.bin", folder / "none.msp", folder / "broken.msp"};
    request.allowAnyFile = true;
    std::vector<std::string> warnings;
    ASSERT_TRUE(Built(&warnings));
    ASSERT_EQ(warnings.size(), 4u);
    EXPECT_NE(warnings[0].find("notes.txt: is not a Windows Installer patch"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("can only extract it (-x)"), std::string::npos) << warnings[0];
}

TEST_F(Build, RefusesToOverwriteItsOwnInputs)
{
    request.output = request.stub;
    ExpectRefused("the output would replace the stub");
    request.output = request.files[1];
    ExpectRefused("the output would replace the input");
}

TEST_F(Build, LeavesNothingBehindWhenTheOutputCannotBeCreated)
{
    request.output = folder / "no-such-folder/out.exe";
    ExpectRefused("cannot be created");
}

}  // namespace

namespace {

TEST(OutputFile, AppearsOnlyWhenCommittedAndLeavesNothingWhenAbandoned)
{
    packtest::ScratchFolder folder;
    std::string source = folder.Write("source.bin", Bytes(300000, 0x42));
    std::string error;
    {
        pack::OutputFile out(folder.Path() / "out.bin");
        ASSERT_TRUE(out.Create(error)) << error;
        EXPECT_TRUE(out.Write(reinterpret_cast<const uint8_t*>("ab"), 2));
        EXPECT_TRUE(out.Append(source, 300000));
        // A source that shrank since it was checked must not be packed short.
        EXPECT_FALSE(out.Append(source, 300001));
    }
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"source.bin"}));

    pack::OutputFile out(folder.Path() / "out.bin");
    ASSERT_TRUE(out.Create(error)) << error;
    EXPECT_TRUE(out.Append(source, 1000));
    EXPECT_TRUE(out.Write(reinterpret_cast<const uint8_t*>("z"), 1));
    ASSERT_TRUE(out.Commit(error)) << error;
    Bytes written = packtest::ReadAll(folder / "out.bin");
    ASSERT_EQ(written.size(), 1001u);
    EXPECT_EQ(written[999], 0x42);
    EXPECT_EQ(written[1000], 'z');
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"out.bin", "source.bin"}));
}

}  // namespace
