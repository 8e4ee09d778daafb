// Where the payload begins (the cases shared with the packer's tests) and the header reader (crafted payload
// files placed at this test binary's own payload offset).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AppState.h"
#include "Log.h"
#include "PayloadHeader.h"
#include "PayloadOffsetCases.h"
#include "TestFiles.h"

namespace {

struct Section {
    uint32_t pointer;
    uint32_t size;
};

// The header layout of this test binary's own flavour, written out rather than taken from the
// SDK's structures: PE32 for the x86 build, PE32+ (wider optional header) for the x64 build.
#if defined(_WIN64)
const uint32_t ntHeadersSize = 264;
const uint32_t dataDirectoryCountAt = 24 + 108;
const uint32_t dataDirectoriesAt = 24 + 112;
#else
const uint32_t ntHeadersSize = 248;
const uint32_t dataDirectoryCountAt = 24 + 92;
const uint32_t dataDirectoriesAt = 24 + 96;
#endif

Bytes CraftImage(const std::vector<Section>& sections, uint32_t certificateOffset = 0, uint32_t certificateSize = 0)
{
    const uint32_t nt = 0x80;
    Bytes image(nt + ntHeadersSize + 40 * sections.size(), 0);
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&image[at], &v, 4); };
    image[0] = 'M';
    image[1] = 'Z';
    put32(0x3C, nt);
    memcpy(&image[nt], "PE\0\0", 4);
    uint16_t count = static_cast<uint16_t>(sections.size());
    memcpy(&image[nt + 6], &count, 2);
    put32(nt + dataDirectoryCountAt, 16);
    put32(nt + dataDirectoriesAt + 8 * 4, certificateOffset);
    put32(nt + dataDirectoriesAt + 8 * 4 + 4, certificateSize);
    for (size_t i = 0; i < sections.size(); ++i) {
        put32(nt + ntHeadersSize + 40 * i + 16, sections[i].size);
        put32(nt + ntHeadersSize + 40 * i + 20, sections[i].pointer);
    }
    return image;
}

// Writes a file whose bytes from this binary's payload offset on are the given payload.
void WritePayloadFile(const std::wstring& path, const Bytes& payload)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFilePointer(file, static_cast<LONG>(GetPayloadOffset()), nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    DWORD written = 0;
    if (!payload.empty())
        WriteFile(file, payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr);
    CloseHandle(file);
}

Bytes CountedText(const std::wstring& text)
{
    Bytes bytes = Utf16Bytes(text);
    bytes.insert(bytes.begin(), static_cast<uint8_t>(bytes.size()));
    return bytes;
}

class PayloadHeader : public testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        appState.logFolder = folder.path() + L"\\";
        OpenLogFile();
    }
    void TearDown() override { ResetAppState(); }

    int Read(const Bytes& payload)
    {
        WritePayloadFile(folder / L"updater.bin", payload);
        appState.payloadFile.reset(CreateFileW((folder / L"updater.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return ReadPayloadHeader(record);
    }

    uint32_t Position() const { return SetFilePointer(appState.payloadFile.get(), 0, nullptr, FILE_CURRENT); }

    std::vector<std::wstring> Logged()
    {
        appState.logFile.reset();
        return ReadLogMessages(folder / L"TessarvaneUpdater.log");
    }

    TempFolder folder;
    RunRecord record;
};

}  // namespace

TEST(PayloadOffset, AgreesWithThePackerOnEveryCaseOfTheSharedTable)
{
    // The packer's tests run the same cases; which section decided is the packer's to report.
    // The updater reads only images of its own flavour.
#if defined(_WIN64)
    const sharedcases::ImageFlavour own = sharedcases::ImageFlavour::Pe32Plus;
#else
    const sharedcases::ImageFlavour own = sharedcases::ImageFlavour::Pe32;
#endif
    for (const sharedcases::PayloadOffsetCase& c : sharedcases::PayloadOffsetCases()) {
        if (c.flavour != own)
            continue;
        std::vector<uint8_t> image = sharedcases::MakeCaseImage(c);
        EXPECT_EQ(PayloadOffsetOfImage(image.data()), c.payloadOffset) << c.what;
    }
}

TEST(PayloadOffset, OwnImageIsComputedOnceAndCached)
{
    uint32_t first = GetPayloadOffset();
    EXPECT_EQ(first, PayloadOffsetOfImage(reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr))));
    EXPECT_EQ(GetPayloadOffset(), first);
    EXPECT_GT(first, 0u);
}

TEST(PayloadOffset, CertificateTableIsFoundOnlyWhenPresent)
{
    EXPECT_EQ(CertificateTableOffsetOfImage(CraftImage({{0x400, 0x200}}, 0x600, 0x700).data()), 0x600u);
    EXPECT_EQ(CertificateTableOffsetOfImage(CraftImage({{0x400, 0x200}}).data()), 0u);
}

TEST_F(PayloadHeader, NothingBehindTheImageOrNoFileMeansNothingCarried)
{
    EXPECT_EQ(Read({}), PayloadMissing);
    ResetAppState();
    EXPECT_EQ(ReadPayloadHeader(record), PayloadMissing);
}

TEST_F(PayloadHeader, ReadsNameAndVersionAndStopsAtTheEntryCount)
{
    Bytes payload = CountedText(L"Tessarvane Demo");
    Bytes version = CountedText(L"2.0.1");
    payload.insert(payload.end(), version.begin(), version.end());
    payload.insert(payload.end(), {1, 0, 0, 0});
    ASSERT_EQ(Read(payload), PayloadHeaderRead);
    EXPECT_EQ(appState.productName, L"Tessarvane Demo");
    EXPECT_EQ(appState.productVersion, L"2.0.1");
    EXPECT_EQ(Position(), GetPayloadOffset() + 2 + 30 + 10);
    EXPECT_TRUE(Logged().empty());
}

TEST_F(PayloadHeader, EmptyNameAndOddLengths)
{
    ASSERT_EQ(Read({0, 4, 'v', 0, '1', 0}), PayloadHeaderRead);
    EXPECT_EQ(appState.productName, L"");
    EXPECT_EQ(appState.productVersion, L"v1");

    Bytes payload(1 + 43, 'n');
    payload[0] = 43;
    for (size_t i = 2; i < payload.size(); i += 2)
        payload[i] = 0;
    payload.insert(payload.end(), {2, '9', 0});
    ResetAppState();
    ASSERT_EQ(Read(payload), PayloadHeaderRead);
    EXPECT_EQ(appState.productName, std::wstring(21, L'n'));
    EXPECT_EQ(appState.productVersion, L"9");
    EXPECT_EQ(Position(), GetPayloadOffset() + 47);
}

TEST_F(PayloadHeader, CutInsideTheNameIsUnreadableName)
{
    EXPECT_EQ(Read({10, 'a', 0, 'b'}), PayloadHeaderUnreadable);
    EXPECT_EQ(Logged(), std::vector<std::wstring>{L"Failed to read product name."});
}

TEST_F(PayloadHeader, CutRightAfterTheNameIsUnreadableVersion)
{
    EXPECT_EQ(Read({2, 'a', 0}), PayloadHeaderUnreadable);
    EXPECT_EQ(appState.productName, L"a");
    EXPECT_EQ(Logged(), std::vector<std::wstring>{L"Failed to read product version."});
}

TEST_F(PayloadHeader, CutInsideTheVersionIsUnreadableVersion)
{
    EXPECT_EQ(Read({2, 'a', 0, 6, '1', 0}), PayloadHeaderUnreadable);
    EXPECT_EQ(Logged(), std::vector<std::wstring>{L"Failed to read product version."});
}
