// verify: the DER reading of a signature, the Authenticode image digest, what verify reports
// about signed and tampered updaters, and the program's verdicts on updaters signed by
// osslsigncode with a certificate made here.
#include "Authenticode.h"
#include "CommandLine.h"
#include "Der.h"
#include "PayloadFormat.h"
#include "ReportFormat.h"
#include "Sha1.h"
#include "SignedFiles.h"
#include "TestFiles.h"
#include "Verifier.h"
#include "VersionResource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using pack::DigestAlgorithm;
using pack::DigestState;
using packtest::Bytes;

std::string Hex(const uint8_t* bytes, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

TEST(VerifyCommandLine, TakesOneUpdaterAndItsTwoOptions)
{
    pack::CommandLine line;
    std::string error;
    ASSERT_TRUE(pack::ParseCommandLine({"verify", "--require-signature", "u.exe", "--json"}, line, error)) << error;
    EXPECT_EQ(line.command, pack::Command::Verify);
    EXPECT_EQ(line.inspectPath, "u.exe");
    EXPECT_TRUE(line.requireSignature);
    EXPECT_TRUE(line.json);
    ASSERT_TRUE(pack::ParseCommandLine({"verify", "--", "--odd.exe"}, line, error)) << error;
    EXPECT_EQ(line.inspectPath, "--odd.exe");
    EXPECT_FALSE(line.requireSignature);

    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"verify"}, "verify needs the updater"},
        {{"verify", "a.exe", "b.exe"}, "verify takes one updater"},
        {{"inspect", "--require-signature", "a.exe"}, "unknown option --require-signature"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(pack::ParseCommandLine(c.args, line, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(Sha1, MatchesTheStandardVectorsHoweverTheInputIsSplit)
{
    struct Case {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const Case& c : cases) {
        for (size_t split : {size_t(0), size_t(1), size_t(63), size_t(64), c.input.size() / 2}) {
            split = std::min(split, c.input.size());
            pack::Sha1 hash;
            auto data = reinterpret_cast<const uint8_t*>(c.input.data());
            hash.Update(data, split);
            hash.Update(data + split, c.input.size() - split);
            auto digest = hash.Finish();
            EXPECT_EQ(Hex(digest.data(), digest.size()), c.digest) << c.input.size() << " bytes split at " << split;
        }
    }
}

TEST(Der, ReadsDefiniteLengthsAndRefusesWhatOverrunsOrIsNotDer)
{
    Bytes body(300, 7);
    Bytes longForm = packtest::Der(0x30, body);
    pack::der::Reader reader(longForm.data(), longForm.size());
    pack::der::Element element;
    ASSERT_TRUE(reader.Next(element));
    EXPECT_EQ(element.size, 300u);
    EXPECT_EQ(element.total, 304u);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Next(element));
    EXPECT_FALSE(reader.failed());

    struct Case {
        const char* what;
        Bytes bytes;
    } bad[] = {
        {"length beyond the bytes", {0x30, 0x05, 1, 2}},
        {"long length beyond the bytes", {0x30, 0x82, 0x01, 0x00, 1}},
        {"length bytes cut off", {0x30, 0x82, 0x01}},
        {"indefinite length (BER)", {0x30, 0x80, 0, 0}},
        {"five length bytes", {0x30, 0x85, 0, 0, 0, 0, 1, 0}},
        {"multi-byte tag", {0x1F, 0x81, 0x01, 0x00}},
        {"a lone tag", {0x30}},
    };
    for (const Case& c : bad) {
        pack::der::Reader r(c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(r.Next(element)) << c.what;
        EXPECT_TRUE(r.failed()) << c.what;
    }
    Bytes integer = packtest::Der(0x02, {1});
    pack::der::Reader wrongTag(integer.data(), integer.size());
    EXPECT_FALSE(wrongTag.Expect(0x30, element));
    EXPECT_TRUE(wrongTag.failed());
}

TEST(SignedDigest, ReadsTheDigestAndItsAlgorithmFromSpcIndirectDataContent)
{
    Bytes sha256(32, 0xAB), sha1(20, 0xCD);
    Bytes blob = packtest::MakeSignatureBlob(sha256, DigestAlgorithm::Sha256);
    Bytes withPadding = blob;
    withPadding.insert(withPadding.end(), 5, 0);
    pack::SignedDigest signedDigest;
    std::string error;
    ASSERT_TRUE(pack::ReadSignedDigest(withPadding.data(), withPadding.size(), signedDigest, error)) << error;
    EXPECT_EQ(signedDigest.algorithm, DigestAlgorithm::Sha256);
    EXPECT_EQ(signedDigest.digest, sha256);
    EXPECT_EQ(signedDigest.blobSize, blob.size());

    blob = packtest::MakeSignatureBlob(sha1, DigestAlgorithm::Sha1);
    ASSERT_TRUE(pack::ReadSignedDigest(blob.data(), blob.size(), signedDigest, error)) << error;
    EXPECT_EQ(signedDigest.algorithm, DigestAlgorithm::Sha1);
    EXPECT_EQ(signedDigest.digest, sha1);
}

TEST(SignedDigest, RefusesSignaturesItCannotVouchFor)
{
    auto replace = [](Bytes blob, const Bytes& from, const Bytes& to) {
        auto at = std::search(blob.begin(), blob.end(), from.begin(), from.end());
        EXPECT_NE(at, blob.end());
        for (; at != blob.end(); at = std::search(at, blob.end(), from.begin(), from.end()))
            at = std::copy(to.begin(), to.end(), at);
        return blob;
    };
    Bytes good = packtest::MakeSignatureBlob(Bytes(32, 1), DigestAlgorithm::Sha256);
    const Bytes sha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const Bytes peImage = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
    const Bytes signedData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    Bytes sha256Oid = sha256;
    sha256Oid.back() = 0x03;  // SHA-512
    Bytes otherKind = peImage;
    otherKind.back() = 0x1E;
    Bytes otherContent = signedData;
    otherContent.back() = 0x01;  // PKCS#7 data
    struct Case {
        const char* what;
        Bytes blob;
        const char* reason;
    } cases[] = {
        {"SHA-512", replace(good, sha256, sha256Oid), "other than SHA-256 or SHA-1"},
        {"SHA-1 with a 32-byte digest", packtest::MakeSignatureBlob(Bytes(32, 1), DigestAlgorithm::Sha1),
         "wrong length"},
        {"not a PE image's signature", replace(good, peImage, otherKind), "not one of a PE image"},
        {"not SignedData", replace(good, signedData, otherContent), "not a DER-encoded PKCS#7 SignedData"},
        {"cut short", Bytes(good.begin(), good.end() - 1), "not a DER-encoded PKCS#7 SignedData"},
    };
    for (const Case& c : cases) {
        pack::SignedDigest signedDigest;
        std::string error;
        EXPECT_FALSE(pack::ReadSignedDigest(c.blob.data(), c.blob.size(), signedDigest, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

Bytes Updater(const Bytes& image, const Bytes& data = {1, 2, 3})
{
    Bytes file = image;
    Bytes header = pack::EncodePayloadHeader(u"Product", u"1.0", {{u"a.bin", uint32_t(data.size())}});
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// Everything counts but the checksum and the certificate table's directory entry, in both
// image flavours.
TEST(ImageDigest, LeavesOutOnlyTheChecksumAndTheCertificateDirectory)
{
    for (bool plus : {false, true}) {
        Bytes file = Updater(plus ? packtest::MakeImage64({{0x400, 0x400}}) : packtest::MakeImage(0x800));
        pack::PeInfo pe;
        std::string error;
        ASSERT_TRUE(pack::ParsePeHeaders(file.data(), file.size(), pe, error)) << error;
        auto digest = [&](const Bytes& bytes) {
            pack::InputFile input(bytes.data(), bytes.size());
            Bytes out;
            EXPECT_TRUE(pack::ComputeImageDigest(input, pe, bytes.size(), DigestAlgorithm::Sha256, out, error));
            return out;
        };
        Bytes original = digest(file);
        uint64_t checksum = pe.checksumOffset, directory = pe.certificateDirectoryOffset;
        EXPECT_EQ(directory, plus ? packtest::kSecurityDirectory64 : packtest::kSecurityDirectory);
        for (uint64_t at = 0; at < file.size(); ++at) {
            Bytes changed = file;
            changed[at] ^= 0x5A;
            bool excluded = (at >= checksum && at < checksum + 4) || (at >= directory && at < directory + 8);
            EXPECT_EQ(digest(changed) == original, excluded) << (plus ? "PE32+" : "PE32") << " byte " << at;
        }
    }
}

struct VerifyCase {
    const char* what;
    Bytes file;
    bool requireSignature;
    DigestState digest;
    uint64_t bytesAfterSignature;  // at least: the count includes the entry's alignment
    uint64_t bytesAfterTable;
    bool layoutSound;
    bool passes;
};

TEST(Verify, JudgesSignedTamperedAndUnsignedUpdaters)
{
    Bytes unsignedFile = Updater(packtest::MakeImage(0x800));
    Bytes signedFile = packtest::SignUpdater(unsignedFile);
    Bytes changedPayload = signedFile;
    changedPayload[unsignedFile.size() - 2] ^= 1;
    Bytes appended = signedFile;
    appended.insert(appended.end(), {'e', 'x', 't', 'r', 'a'});
    Bytes grown = packtest::SignUpdater(unsignedFile, DigestAlgorithm::Sha256, Bytes(16, 'x'));
    Bytes zeroGrown = packtest::SignUpdater(unsignedFile, DigestAlgorithm::Sha256, Bytes(24, 0));
    Bytes strayUnsigned = unsignedFile;
    strayUnsigned.push_back(0);
    Bytes movedTable = signedFile;
    packtest::PutU32At(movedTable, packtest::kSecurityDirectory, 0x700);
    Bytes notPkcs7 = signedFile;
    notPkcs7[(unsignedFile.size() + 7) / 8 * 8 + 6] = 1;  // X.509 entry type

    VerifyCase cases[] = {
        {"unsigned", unsignedFile, false, DigestState::Unsigned, 0, 0, true, true},
        {"unsigned, signature required", unsignedFile, true, DigestState::Unsigned, 0, 0, true, false},
        {"signed", signedFile, true, DigestState::Matches, 0, 0, true, true},
        {"signed with SHA-1", packtest::SignUpdater(unsignedFile, DigestAlgorithm::Sha1), true, DigestState::Matches, 0,
         0, true, true},
        {"a carried byte changed", changedPayload, false, DigestState::Differs, 0, 0, true, false},
        {"bytes appended behind the table", appended, false, DigestState::Matches, 0, 5, true, false},
        {"the table grown behind the signature", grown, false, DigestState::Matches, 16, 0, true, false},
        {"zeros beyond alignment behind the signature", zeroGrown, false, DigestState::Matches, 24, 0, true, false},
        {"stray bytes behind an unsigned payload", strayUnsigned, false, DigestState::Unsigned, 0, 0, false, false},
        {"a table that is not behind the payload", movedTable, false, DigestState::NotChecked, 0, 0, false, false},
        {"a table without a PKCS#7 entry", notPkcs7, false, DigestState::Unreadable, 0, 0, true, false},
    };
    for (const VerifyCase& c : cases) {
        pack::InputFile input(c.file.data(), c.file.size());
        pack::VerifyReport report;
        std::string error;
        ASSERT_TRUE(pack::VerifyUpdater(input, c.requireSignature, report, error)) << c.what << ": " << error;
        EXPECT_EQ(report.digestState, c.digest) << c.what;
        EXPECT_GE(report.bytesAfterSignature, c.bytesAfterSignature) << c.what;
        EXPECT_LT(report.bytesAfterSignature, c.bytesAfterSignature + 8) << c.what;
        EXPECT_EQ(report.bytesAfterSignature == 0, c.bytesAfterSignature == 0) << c.what;
        EXPECT_EQ(report.bytesAfterTable, c.bytesAfterTable) << c.what;
        EXPECT_EQ(report.layoutProblems.empty(), c.layoutSound) << c.what;
        EXPECT_EQ(report.ok, c.passes) << c.what;
        EXPECT_EQ(report.problems.empty(), c.passes) << c.what;
        std::string text = pack::FormatVerifyText("u.exe", report);
        EXPECT_NE(text.find(c.passes ? "verify: passed\n" : "verify: FAILED\n"), std::string::npos) << text;
        std::string json = pack::FormatVerifyJson("u.exe", report);
        EXPECT_NE(json.find(c.passes ? "\"passed\": true" : "\"passed\": false"), std::string::npos) << json;
    }
}

// A resource tree as a linker lays it out (type, name, language, data entry, VS_VERSIONINFO)
// in the second section of a PE32 image, at RVA 0x2000.
Bytes ImageWithVersion(uint32_t signature = 0xFEEF04BD, uint32_t typeId = 16)
{
    Bytes image = packtest::MakeImage({{0x200, 0x200}, {0x400, 0x400}});
    const size_t base = 0x400;
    const uint32_t rva = 0x2000;
    packtest::PutU32At(image, 0x40 + 24 + 96 + 16, rva);  // data directory 2
    packtest::PutU32At(image, 0x40 + 24 + 96 + 20, 0x200);
    auto directory = [&](size_t at, uint32_t id, uint32_t target) {
        image[at + 14] = 1;  // one id entry
        packtest::PutU32At(image, at + 16, id);
        packtest::PutU32At(image, at + 20, target);
    };
    directory(base, typeId, 0x80000018);
    directory(base + 0x18, 1, 0x80000030);
    directory(base + 0x30, 0x409, 0x48);
    packtest::PutU32At(image, base + 0x48, rva + 0x60);
    packtest::PutU32At(image, base + 0x4C, 0x100);
    image[base + 0x60] = 0x00, image[base + 0x61] = 0x01;  // wLength 0x100
    image[base + 0x62] = 52;                               // wValueLength
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof key - 1; ++i)
        image[base + 0x66 + 2 * i] = uint8_t(key[i]);
    size_t fixed = base + 0x60 + 40;
    packtest::PutU32At(image, fixed, signature);
    packtest::PutU32At(image, fixed + 8, 0x00020003);  // file 2.3.4.5
    packtest::PutU32At(image, fixed + 12, 0x00040005);
    packtest::PutU32At(image, fixed + 16, 0x00020003);  // product 2.3.0.0
    packtest::PutU32At(image, fixed + 20, 0);
    return image;
}

TEST(VersionResource, ReadsTheFixedFileInfoAndIgnoresWhatIsNotOne)
{
    struct Case {
        const char* what;
        Bytes image;
        bool found;
    } cases[] = {
        {"a version resource", ImageWithVersion(), true},
        {"no resources", packtest::MakeImage(0x800), false},
        {"a wrong signature", ImageWithVersion(0xFEEF04BC), false},
        {"only an icon", ImageWithVersion(0xFEEF04BD, 3), false},
    };
    for (const Case& c : cases) {
        pack::PeInfo pe;
        std::string error;
        ASSERT_TRUE(pack::ParsePeHeaders(c.image.data(), c.image.size(), pe, error)) << c.what << ": " << error;
        pack::InputFile input(c.image.data(), c.image.size());
        pack::VersionResource version = pack::ReadVersionResource(input, pe);
        EXPECT_EQ(version.found, c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(version.fileVersion, "2.3.4.5");
            EXPECT_EQ(version.productVersion, "2.3.0.0");
        }
    }
}

TEST(VersionResource, InspectAndVerifyShowTheStubsVersion)
{
    Bytes file = Updater(ImageWithVersion());
    pack::InputFile input(file.data(), file.size());
    pack::VerifyReport report;
    std::string error;
    ASSERT_TRUE(pack::VerifyUpdater(input, false, report, error)) << error;
    EXPECT_NE(pack::FormatVerifyText("u.exe", report).find("updater version: file 2.3.4.5, product 2.3.0.0\n"),
              std::string::npos);
    EXPECT_NE(pack::FormatVerifyJson("u.exe", report).find("\"updaterVersion\": {\"file\": \"2.3.4.5\""),
              std::string::npos);
    EXPECT_NE(pack::FormatReportText("u.exe", report.updater).find("updater version: file 2.3.4.5"), std::string::npos);
    EXPECT_NE(pack::FormatReportJson("u.exe", report.updater).find("\"updaterVersion\": {"), std::string::npos);
}

// The program on updaters that osslsigncode signed, as a release pipeline runs it.
class VerifyProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null"), 0)
            << "osslsigncode and openssl are needed (scripts/bootstrap installs them)";
        std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -days 2 -keyout " +
                           folder / "key.pem" + " -out " + folder / "cert.pem" + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0);
    }
    std::string Sign(const std::string& in, const std::string& digest)
    {
        std::string signedPath = in + "." + digest + ".signed";
        std::filesystem::remove(signedPath);  // osslsigncode does not overwrite
        std::string command = "osslsigncode sign -h " + digest + " -certs " + folder / "cert.pem" + " -key " +
                              folder / "key.pem" + " -in " + in + " -out " + signedPath + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return signedPath;
    }
    int Verify(const std::string& args)
    {
        std::string command = std::string(PACK_PROGRAM) + " verify " + args + " >" + folder / "stdout" + " 2>&1";
        int status = std::system(command.c_str());
        Bytes b = packtest::ReadAll(folder / "stdout");
        out.assign(b.begin(), b.end());
        return WEXITSTATUS(status);
    }
    packtest::ScratchFolder folder;
    std::string out;
};

TEST_F(VerifyProgram, NamesTheVersionKeptInTheVersionFile)
{
    Bytes version = packtest::ReadAll(VERSION_FILE);
    std::string text(version.begin(), version.end());
    std::string command = std::string(PACK_PROGRAM) + " --version >" + folder / "stdout";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Bytes printed = packtest::ReadAll(folder / "stdout");
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "tessarvane-pack " + text);
}

TEST_F(VerifyProgram, PassesWhatWasSignedAndReportsEachTampering)
{
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        Bytes patch = packtest::MakePatch("{A1}", 3000);
        Bytes file = Updater(plus ? packtest::MakeImage64({{0x400, 0x400}}) : packtest::MakeImage(0x800), patch);
        std::string packed = folder.Write(plus ? "u64.exe" : "u.exe", file);

        EXPECT_EQ(Verify(packed), 0) << out;
        EXPECT_NE(out.find("signature: none (unsigned)"), std::string::npos) << out;
        EXPECT_EQ(Verify("--require-signature " + packed), 1) << out;
        EXPECT_NE(out.find("problem: the updater is not signed"), std::string::npos) << out;

        for (std::string digest : {"sha256", "sha1"}) {
            std::string signedPath = Sign(packed, digest);
            EXPECT_EQ(Verify("--require-signature " + signedPath), 0) << out;
            EXPECT_NE(out.find("digest: matches"), std::string::npos) << out;
            EXPECT_NE(out.find(digest == "sha1" ? "digest algorithm: SHA-1" : "digest algorithm: SHA-256"),
                      std::string::npos)
                << out;
            EXPECT_NE(out.find("certificate chain: not checked"), std::string::npos) << out;
        }
        Bytes signedFile = packtest::ReadAll(Sign(packed, "sha256"));

        Bytes changed = signedFile;
        changed[file.size() - 100] ^= 1;  // inside the carried patch
        EXPECT_EQ(Verify(folder.Write("changed.exe", changed)), 1) << out;
        EXPECT_NE(out.find("problem: digest differs"), std::string::npos) << out;

        Bytes appended = signedFile;
        appended.insert(appended.end(), 12, 'A');
        EXPECT_EQ(Verify("--json " + folder.Write("appended.exe", appended)), 1) << out;
        EXPECT_NE(out.find("\"bytesAfterCertificateTable\": 12"), std::string::npos) << out;
        EXPECT_NE(out.find("\"digest\": \"matches\""), std::string::npos) << out;

        // The table and its entry grown by 32 bytes, as in the known technique of hiding data
        // in a signed file.
        pack::PeInfo pe;
        std::string error;
        ASSERT_TRUE(pack::ParsePeHeaders(signedFile.data(), signedFile.size(), pe, error)) << error;
        Bytes grown = signedFile;
        uint64_t directory = pe.certificateDirectoryOffset;
        packtest::PutU32At(grown, directory + 4, pe.certificateSize + 32);
        packtest::PutU32At(grown, pe.certificateOffset, pack::GetU32(&grown[pe.certificateOffset]) + 32);
        grown.insert(grown.end(), 32, 'B');
        EXPECT_EQ(Verify(folder.Write("grown.exe", grown)), 1) << out;
        EXPECT_NE(out.find("bytes follow the signature inside the certificate table"), std::string::npos) << out;
        EXPECT_NE(out.find("digest: matches"), std::string::npos) << out;
    }
}

}  // namespace
