// Extract mode of the real updater, packed by tessarvane-pack: the carried files come out
// byte-identical, a second run into the same folder refuses to overwrite, an updater cut short
// leaves no part file, a run killed in the middle of a file leaves nothing under a carried
// name that is not whole, -x without a value extracts beside the executable, signing after
// packing changes nothing, and the header reader reads the packer's product name and
// version, non-ASCII characters included.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppState.h"
#include "Extraction.h"
#include "Log.h"
#include "PackedUpdater.h"
#include "PayloadHeader.h"
#include "TestFiles.h"
#include "WindowDriver.h"

namespace {

const DWORD Timeout = 60000;
const wchar_t* const ProductName = L"Tessarvane Straße – Ünïcode ✓";
const wchar_t* const ProductVersion = L"2.1.0-β";

DWORD RunUpdater(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    DrivenProcess process;
    EXPECT_TRUE(process.Start(program, arguments));
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_TRUE(process.WaitForExit(Timeout, exitCode)) << "the updater did not end";
    return exitCode;
}

// Every carried file, and nothing else, lies in the folder with its original bytes.
void ExpectCarriedFilesIn(const std::wstring& folder, const std::vector<std::wstring>& alsoThere = {})
{
    std::vector<std::wstring> carried = ListFolder(FixturePath(L"files"), Entries::Files);
    ASSERT_EQ(carried.size(), 4u);
    std::vector<std::wstring> expected = carried;
    expected.insert(expected.end(), alsoThere.begin(), alsoThere.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolder(folder, Entries::Files), expected);
    for (const std::wstring& name : carried) {
        Bytes original;
        Bytes extracted;
        ASSERT_TRUE(ReadAllBytes(FixturePath(L"files\\" + name), original));
        ASSERT_TRUE(ReadAllBytes(folder + L"\\" + name, extracted)) << "missing " << testing::PrintToString(name);
        EXPECT_TRUE(original == extracted) << "differs: " << testing::PrintToString(name);
    }
}

TEST(ExtractMode, WritesTheCarriedFilesAndRefusesToOverwriteThem)
{
    TempFolder folder;
    std::wstring out = folder / L"out\\deeper";
    ASSERT_EQ(RunUpdater(FixturePath(L"updater.exe"), {L"-x", out, L"-l", folder / L"logs"}), 0u);
    ExpectCarriedFilesIn(out);
    EXPECT_EQ(ReadLogMessages(folder / L"logs\\TessarvaneUpdater.log"),
              std::vector<std::wstring>{L"Extracting update files."});
    KeepResultFile(folder / L"logs", L"first");

    EXPECT_EQ(RunUpdater(FixturePath(L"updater.exe"), {L"-x", out, L"-l", folder / L"again"}), 1u);
    EXPECT_EQ(ReadLogMessages(folder / L"again\\TessarvaneUpdater.log"),
              (std::vector<std::wstring>{L"Extracting update files.", L"Failed to create update file."}));
    KeepResultFile(folder / L"again", L"again");
    ExpectCarriedFilesIn(out);
}

TEST(ExtractMode, WithoutAValueExtractsBesideTheExecutable)
{
    TempFolder folder;
    Bytes updater;
    ASSERT_TRUE(ReadAllBytes(FixturePath(L"updater.exe"), updater));
    ASSERT_TRUE(WriteAllBytes(folder / L"TessarvaneUpdater.exe", updater));
    ASSERT_EQ(RunUpdater(folder / L"TessarvaneUpdater.exe", {L"-x"}), 0u);
    ExpectCarriedFilesIn(folder.path(), {L"TessarvaneUpdater.exe"});
}

TEST(ExtractMode, AnUpdaterCutShortKeepsTheCompleteFilesAndRemovesThePartOne)
{
    // The last carried file is the large one: cutting the updater inside its data leaves the
    // three before it whole.
    Bytes updater;
    ASSERT_TRUE(ReadAllBytes(FixturePath(L"updater.exe"), updater));
    ASSERT_GT(updater.size(), 100000u);
    updater.resize(updater.size() - 100000);
    TempFolder folder;
    ASSERT_TRUE(WriteAllBytes(folder / L"cut.exe", updater));

    std::wstring out = folder / L"out";
    ASSERT_EQ(RunUpdater(folder / L"cut.exe", {L"-x", out, L"-l", folder / L"logs"}), 1u);
    EXPECT_EQ(ReadLogMessages(folder / L"logs\\TessarvaneUpdater.log"),
              (std::vector<std::wstring>{L"Extracting update files.", L"Failed to extract update."}));
    KeepResultFile(folder / L"logs");
    EXPECT_EQ(ListFolder(out, Entries::All),
              (std::vector<std::wstring>{L"Empty.msp", L"exact 0x8000.msp", L"one more 0x8001.msp"}));
    for (const std::wstring& name : ListFolder(out, Entries::Files)) {
        Bytes original;
        Bytes extracted;
        ASSERT_TRUE(ReadAllBytes(FixturePath(L"files\\" + name), original));
        ASSERT_TRUE(ReadAllBytes(out + L"\\" + name, extracted));
        EXPECT_TRUE(original == extracted) << "differs: " << testing::PrintToString(name);
    }
}

// Killed while the large file is being copied (the first moment its temporary file is seen),
// the run leaves every carried name either absent or holding the carried bytes. A run that
// finished before the kill proves nothing, so the test tries again until one was caught in
// the middle.
TEST(ExtractMode, ARunKilledInTheMiddleLeavesNoCarriedNameThatIsNotWhole)
{
    std::vector<std::wstring> carried = ListFolder(FixturePath(L"big-files"), Entries::Files);
    ASSERT_EQ(carried, (std::vector<std::wstring>{L"big.msp", L"first.msp"}));
    bool caughtInTheMiddle = false;
    for (int attempt = 0; attempt < 5 && !caughtInTheMiddle; ++attempt) {
        TempFolder folder;
        std::wstring out = folder / L"out";
        DrivenProcess process;
        ASSERT_TRUE(process.Start(FixturePath(L"big.exe"), {L"-x", out}));
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<std::wstring> names = ListFolder(out, Entries::Files);
            bool copying = FileExists(out + L"\\first.msp") &&
                           std::find(names.begin(), names.end(), L"big.msp") == names.end() && names.size() == 2;
            if (copying) {
                process.Terminate();
                caughtInTheMiddle = !FileExists(out + L"\\big.msp");
                break;
            }
            if (!process.running() || GetTickCount() - start > Timeout)
                break;
        }
        process.Terminate();
        for (const std::wstring& name : carried) {
            if (!FileExists(out + L"\\" + name))
                continue;
            Bytes original;
            Bytes extracted;
            ASSERT_TRUE(ReadAllBytes(FixturePath(L"big-files\\" + name), original));
            ASSERT_TRUE(ReadAllBytes(out + L"\\" + name, extracted));
            EXPECT_TRUE(original == extracted) << "a carried name that is not whole: " << testing::PrintToString(name);
        }
    }
    EXPECT_TRUE(caughtInTheMiddle) << "no run was caught while copying the large file";
}

TEST(ExtractMode, AnUpdaterSignedAfterPackingExtractsTheSameFiles)
{
    TempFolder folder;
    ASSERT_EQ(RunUpdater(FixturePath(L"signed.exe"), {L"-x", folder / L"out"}), 0u);
    ExpectCarriedFilesIn(folder / L"out");
}

TEST(PackedPayload, HeaderReaderAndExtractionReadWhatThePackerWrote)
{
    Bytes updater;
    ASSERT_TRUE(ReadAllBytes(FixturePath(L"signed.exe"), updater));
    TempFolder folder;
    ASSERT_TRUE(WriteBehindOwnImage(folder / L"payload.bin", PayloadOf(updater)));

    ResetAppState();
    RunRecord record;
    appState.payloadFile.reset(CreateFileW((folder / L"payload.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_EQ(ReadPayloadHeader(record), PayloadHeaderRead);
    EXPECT_EQ(appState.productName, ProductName);
    EXPECT_EQ(appState.productVersion, ProductVersion);

    UpdateTable table;
    ASSERT_EQ(ExtractUpdates((folder / L"out").c_str(), &table, record, nullptr), 0);
    ResetAppState();
    std::vector<std::wstring> names;
    for (const PatchFileInfo& entry : table)
        names.push_back(entry.fileName);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Empty.msp", L"exact 0x8000.msp", L"one more 0x8001.msp",
                                                L"große Änderung ✓.msp"}))
        << "table order is the packing order";
    ExpectCarriedFilesIn(folder / L"out");
}

}  // namespace
