// Extraction from crafted payload files that begin at the entry count, where the header
// reader leaves the payload file: byte-identical copies, the table handed over, each failure
// with its one log line, refused names, and faulty writes through the WriteFile stand-in; a
// file whose copy fails is gone afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AppState.h"
#include "Extraction.h"
#include "FileNameCases.h"
#include "Folders.h"
#include "Log.h"
#include "TestFiles.h"
#include "UpdateFileName.h"
#include "WriteFileSeam.h"

namespace {

struct Carried {
    std::wstring name;
    Bytes data;
};

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

void Append32(Bytes& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// One 528-byte record; units after the name's NUL are filled with junk, which must not matter.
Bytes Record(const std::wstring& name, uint32_t size, bool terminated = true)
{
    wchar_t field[260];
    for (int i = 0; i < 260; ++i)
        field[i] = static_cast<wchar_t>(L'A' + i % 26);
    memcpy(field, name.data(), std::min<size_t>(name.size(), 260) * sizeof(wchar_t));
    if (terminated)
        field[name.size()] = L'\0';
    Bytes bytes(reinterpret_cast<uint8_t*>(field), reinterpret_cast<uint8_t*>(field) + sizeof field);
    Append32(bytes, size);
    Append32(bytes, 0xDEADBEEF);
    return bytes;
}

// Entry count, records and data, as they follow the payload header.
Bytes TableAndData(const std::vector<Carried>& files)
{
    Bytes bytes;
    Append32(bytes, static_cast<uint32_t>(files.size()));
    for (const Carried& file : files) {
        Bytes record = Record(file.name, static_cast<uint32_t>(file.data.size()));
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    for (const Carried& file : files)
        bytes.insert(bytes.end(), file.data.begin(), file.data.end());
    return bytes;
}

class Extraction : public testing::Test {
protected:
    void SetUp() override { Again(); }
    void TearDown() override { ResetAppState(); }

    // A fresh run state with the log reopened, for the next case of a table.
    void Again()
    {
        ResetAppState();
        record.reset(new RunRecord);
        appState.logFolder = folder.path() + L"\\";
        OpenLogFile();
    }

    void OpenPayload(const Bytes& payload)
    {
        EXPECT_TRUE(WriteAllBytes(folder / L"payload.bin", payload));
        appState.payloadFile.reset(CreateFileW((folder / L"payload.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    int Extract(const Bytes& payload, const std::wstring& out, UpdateTable* table = nullptr)
    {
        OpenPayload(payload);
        return ExtractUpdates(out.c_str(), table, *record, &hash);
    }

    uint32_t Position() const { return SetFilePointer(appState.payloadFile.get(), 0, nullptr, FILE_CURRENT); }

    std::vector<std::wstring> Logged()
    {
        appState.logFile.reset();
        return ReadLogMessages(folder / L"TessarvaneUpdater.log");
    }

    Bytes FileAt(const std::wstring& path)
    {
        Bytes bytes;
        EXPECT_TRUE(ReadAllBytes(path, bytes)) << "missing file";
        return bytes;
    }

    TempFolder folder;
    // Extraction records into the run's record and hashes what it copies, as for a result file.
    std::unique_ptr<RunRecord> record{new RunRecord};
    Sha256Pipe hash;
};

std::vector<std::wstring> Lines(std::initializer_list<const wchar_t*> lines)
{
    return std::vector<std::wstring>(lines.begin(), lines.end());
}

TEST_F(Extraction, CopiesEveryFileByteForByteAndHandsOverTheTable)
{
    // 0, one full buffer, one byte past it, and many buffers with a short tail; the bytes
    // behind the data (a certificate table, say) are never read.
    std::vector<Carried> files = {{L"empty.msp", {}},
                                  {L"exact.msp", Pattern(0x8000, 1)},
                                  {L"one more.msp", Pattern(0x8001, 2)},
                                  {L"Ünïcödé ✓.msp", Pattern(0x4F9000 + 17, 3)}};
    Bytes payload = TableAndData(files);
    size_t dataEnd = payload.size();
    payload.insert(payload.end(), 64, 0xCC);

    UpdateTable table;
    ASSERT_EQ(Extract(payload, folder / L"out", &table), 0);
    EXPECT_EQ(Position(), dataEnd);
    ASSERT_EQ(table.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(std::wstring(table[i].fileName), files[i].name);
        EXPECT_EQ(table[i].fileSize, files[i].data.size());
        EXPECT_EQ(FileAt(folder / (L"out\\" + files[i].name)), files[i].data) << i;
    }
    EXPECT_EQ(Logged(), Lines({L"Extracting update files."}));
}

TEST_F(Extraction, NoTableAndNoEntriesStillPrepareTheFolder)
{
    ASSERT_EQ(Extract(TableAndData({{L"a.msp", Pattern(10, 4)}}), folder / L"out"), 0);
    EXPECT_EQ(FileAt(folder / L"out\\a.msp"), Pattern(10, 4));

    UpdateTable table(3);
    ResetAppState();
    ASSERT_EQ(Extract(TableAndData({}), folder / L"nested\\deeper\\out", &table), 0);
    EXPECT_TRUE(table.empty());
    EXPECT_TRUE(DirectoryExists((folder / L"nested\\deeper\\out").c_str()));
}

TEST_F(Extraction, OutputFolderSpellings)
{
    // A final separator doubles the backslash, which Windows reads as one; a relative folder
    // is taken from the current folder.
    ASSERT_EQ(Extract(TableAndData({{L"a.msp", Pattern(5, 5)}}), folder / L"slash\\"), 0);
    EXPECT_EQ(FileAt(folder / L"slash\\a.msp"), Pattern(5, 5));

    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    ResetAppState();
    int result = Extract(TableAndData({{L"b.msp", Pattern(6, 6)}}), L".\\relative\\out");
    SetCurrentDirectoryW(previous);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(FileAt(folder / L"relative\\out\\b.msp"), Pattern(6, 6));
}

TEST_F(Extraction, TableThatCannotBeReadFailsBeforeTheFolderIsTouched)
{
    struct Case {
        Bytes payload;
        const wchar_t* line;
    };
    Bytes whole = TableAndData({{L"a.msp", Pattern(100, 7)}, {L"b.msp", Pattern(100, 8)}});
    Bytes hugeCount = whole;
    hugeCount[3] = 0xFF;
    const std::vector<Case> cases = {
        {{}, L"Failed to read the update table."},
        {{2, 0, 0}, L"Failed to read the update table."},
        {Bytes(whole.begin(), whole.begin() + 4 + 528 + 527), L"Failed to read update table entry."},
        {hugeCount, L"Failed to read update table entry."},
    };
    for (const Case& c : cases) {
        Again();
        UpdateTable table(2);
        EXPECT_EQ(Extract(c.payload, folder / L"out", &table), 1);
        EXPECT_EQ(table.size(), 2u) << "the destination is left as it was";
        EXPECT_EQ(Logged(), Lines({L"Extracting update files.", c.line}));
        EXPECT_FALSE(FileExists(folder / L"out"));
    }
}

TEST_F(Extraction, OutputFolderThatCannotBeMade)
{
    WriteAllBytes(folder / L"file", {1});
    const std::vector<std::wstring> folders = {
        L"",                                                          // no folder at all
        L"tv-missing-relative-folder",                                // one relative level, nothing to start from
        folder / L"file\\below",                                      // a level below a file
        folder / std::wstring(260 - folder.path().size() - 1, L'x'),  // 260 characters
    };
    for (const std::wstring& out : folders) {
        Again();
        EXPECT_EQ(Extract(TableAndData({{L"a.msp", Pattern(3, 9)}}), out), 1);
        EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Output directory not accessible."}));
    }
}

TEST_F(Extraction, ExistingFilesAreNeverOverwritten)
{
    // A folder path naming a file passes the folder step; its first file cannot be created.
    WriteAllBytes(folder / L"file", {1});
    EXPECT_EQ(Extract(TableAndData({{L"a.msp", Pattern(3, 10)}}), folder / L"file"), 1);
    EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to create update file."}));

    CreateDirectoryW((folder / L"out").c_str(), nullptr);
    WriteAllBytes(folder / L"out\\b.msp", {7, 7});
    Again();
    EXPECT_EQ(Extract(TableAndData({{L"a.msp", Pattern(3, 11)}, {L"b.msp", Pattern(3, 12)}}), folder / L"out"), 1);
    EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to create update file."}));
    EXPECT_EQ(FileAt(folder / L"out\\a.msp"), Pattern(3, 11)) << "the files before stay";
    EXPECT_EQ(FileAt(folder / L"out\\b.msp"), Bytes({7, 7}));

    Again();
    EXPECT_EQ(Extract(TableAndData({{L"twice.msp", Pattern(3, 13)}, {L"twice.msp", Pattern(3, 14)}}), folder / L"dup"),
              1);
    EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to create update file."}));
    EXPECT_EQ(FileAt(folder / L"dup\\twice.msp"), Pattern(3, 13));
}

TEST_F(Extraction, DataCutShortFailsWhereverTheCutLiesAndRemovesThePartFile)
{
    // Inside a full buffer, inside the last read of a file, and in a file after a complete one:
    // the file being written goes, the complete one before it stays.
    Bytes whole = TableAndData({{L"a.msp", Pattern(0x8001, 15)}, {L"b.msp", Pattern(40, 16)}});
    size_t data = 4 + 2 * 528;
    for (size_t cut : {data + 0x4000, data + 0x8000, data + 0x8001, data + 0x8001 + 39}) {
        Again();
        RemoveTree(folder / L"out");
        EXPECT_EQ(Extract(Bytes(whole.begin(), whole.begin() + cut), folder / L"out"), 1) << cut;
        EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to extract update."}));
        bool firstComplete = cut >= data + 0x8001;
        EXPECT_EQ(FileExists(folder / L"out\\a.msp"), firstComplete) << cut;
        if (firstComplete) {
            EXPECT_EQ(FileAt(folder / L"out\\a.msp"), Pattern(0x8001, 15));
        }
        EXPECT_FALSE(FileExists(folder / L"out\\b.msp")) << cut;
        EXPECT_EQ(ListFolder(folder / L"out").size(), firstComplete ? 1u : 0u) << "no temporary file stays";
    }
}

TEST_F(Extraction, FailedOrShortWritesFailTheExtractionAndRemoveThePartFile)
{
    // a.msp takes two writes, b.msp one: a fault at the third write hits b.msp after a.msp
    // was completed.
    Bytes payload = TableAndData({{L"a.msp", Pattern(0x8001, 17)}, {L"b.msp", Pattern(9, 18)}});
    struct Case {
        WriteFault fault;
        int passedWrites;
    };
    for (Case c : {Case{WriteFault::Fail, 0}, Case{WriteFault::Short, 0}, Case{WriteFault::Fail, 1},
                   Case{WriteFault::Short, 1}, Case{WriteFault::Fail, 2}, Case{WriteFault::Short, 2}}) {
        Again();
        RemoveTree(folder / L"out");
        OpenPayload(payload);
        {
            ArmedWriteFault fault(c.fault, c.passedWrites);
            EXPECT_EQ(ExtractUpdates((folder / L"out").c_str(), nullptr, *record, &hash), 1);
        }
        EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to extract update."}));
        bool firstComplete = c.passedWrites == 2;
        EXPECT_EQ(FileExists(folder / L"out\\a.msp"), firstComplete) << c.passedWrites;
        if (firstComplete) {
            EXPECT_EQ(FileAt(folder / L"out\\a.msp"), Pattern(0x8001, 17));
        }
        EXPECT_FALSE(FileExists(folder / L"out\\b.msp")) << c.passedWrites;
        EXPECT_EQ(ListFolder(folder / L"out").size(), firstComplete ? 1u : 0u) << "no temporary file stays";
    }
}

// The file is written under a temporary name and renamed once whole; a file that takes the
// carried name meanwhile is not replaced, and the copy is dropped.
TEST_F(Extraction, AFileThatTakesTheNameDuringTheCopyIsNeverReplaced)
{
    ASSERT_TRUE(CreateDirectoryW((folder / L"out").c_str(), nullptr));
    PlantBeforeNextWrite(folder / L"out\\a.msp", {'m', 'i', 'n', 'e'});
    EXPECT_EQ(Extract(TableAndData({{L"a.msp", Pattern(100, 19)}}), folder / L"out"), 1);
    EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Failed to create update file."}));
    EXPECT_EQ(FileAt(folder / L"out\\a.msp"), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(ListFolder(folder / L"out"), std::vector<std::wstring>{L"a.msp"});
}

// The refused names of the rule's cases that the packer's tests run too.
std::vector<std::wstring> RefusedSharedNames()
{
    std::vector<std::wstring> names;
    for (const sharedcases::FileNameCase& c : sharedcases::FileNameCases()) {
        if (*c.refusal != 0)
            names.emplace_back(c.name.begin(), c.name.end());
    }
    return names;
}

TEST_F(Extraction, RefusedNamesCreateNothingForTheirEntry)
{
    // Each behind a file that was written; a name of 260 units fills its field without a NUL.
    for (const std::wstring& name : RefusedSharedNames()) {
        Again();
        RemoveTree(folder / L"out");
        Bytes payload;
        Append32(payload, 2);
        for (const Bytes& entry : {Record(L"first.msp", 4), Record(name, 4, name.size() < 260)})
            payload.insert(payload.end(), entry.begin(), entry.end());
        Bytes first = Pattern(4, 18);
        payload.insert(payload.end(), first.begin(), first.end());
        payload.insert(payload.end(), 4, 0x77);
        EXPECT_EQ(Extract(payload, folder / L"out"), 1) << "name [" << testing::PrintToString(name) << "]";
        EXPECT_EQ(Logged(), Lines({L"Extracting update files.", L"Invalid update file name."}));
        EXPECT_EQ(ListFolder(folder / L"out"), std::vector<std::wstring>{L"first.msp"});
        EXPECT_EQ(FileAt(folder / L"out\\first.msp"), first);
        EXPECT_FALSE(FileExists(folder / L"escape.msp"));
    }
}

TEST(UpdateFileName, AgreesWithThePackerOnEveryCaseOfTheSharedTable)
{
    for (const sharedcases::FileNameCase& c : sharedcases::FileNameCases()) {
        wchar_t field[260] = {};
        memcpy(field, c.name.data(), std::min<size_t>(c.name.size(), 260) * sizeof(wchar_t));
        std::wstring name(c.name.begin(), c.name.end());
        EXPECT_EQ(IsValidUpdateFileName(field), *c.refusal == 0) << testing::PrintToString(name);
    }
}

}  // namespace
