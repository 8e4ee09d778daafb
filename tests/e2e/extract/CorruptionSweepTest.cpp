// Damaged payloads derived from one packed updater, each run in this process through the
// header reader and the extraction, as start-up runs them in extract mode. Every damage is
// deterministic: truncations at each class of cut, every value of both length bytes, chosen
// and seeded entry counts, sizes and name units, and seeded flips anywhere in the header and
// table. Each case must end in result 1 with one known log line, or in 0 with every file
// complete, and must write nothing outside its output folder and no more bytes than the
// damaged payload carries behind its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AppState.h"
#include "Extraction.h"
#include "Log.h"
#include "PackedUpdater.h"
#include "PayloadHeader.h"
#include "TestFiles.h"

namespace {

const size_t RecordSize = 528;

struct Damaged {
    std::string what;
    Bytes payload;
};

// Where the parts of a payload lie, as its own bytes say; values beyond the end are kept so
// that a damaged payload can be judged by what it claims.
struct Layout {
    size_t countAt = 0;
    uint32_t count = 0;
    uint64_t dataAt = 0;
};

Layout LayoutOf(const Bytes& payload)
{
    Layout layout;
    if (payload.empty())
        return layout;
    size_t versionAt = 1 + payload[0];
    layout.countAt = versionAt + 1 + (versionAt < payload.size() ? payload[versionAt] : 0);
    if (layout.countAt + 4 <= payload.size())
        memcpy(&layout.count, &payload[layout.countAt], 4);
    layout.dataAt = layout.countAt + 4 + uint64_t(RecordSize) * layout.count;
    return layout;
}

uint32_t Get32(const Bytes& bytes, size_t at)
{
    uint32_t value;
    memcpy(&value, &bytes[at], 4);
    return value;
}

uint16_t Get16(const Bytes& bytes, size_t at)
{
    uint16_t value;
    memcpy(&value, &bytes[at], 2);
    return value;
}

void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    memcpy(&bytes[at], &value, 4);
}

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t Below(uint32_t bound) { return Next() % bound; }

private:
    uint32_t state_;
};

std::vector<Damaged> DeriveDamage(const Bytes& base)
{
    std::vector<Damaged> cases;
    Layout layout = LayoutOf(base);
    const size_t records = layout.countAt + 4;
    const size_t data = static_cast<size_t>(layout.dataAt);
    auto cut = [&](size_t at, const char* where) {
        cases.push_back({std::string("cut at ") + std::to_string(at) + " " + where,
                         Bytes(base.begin(), base.begin() + std::min(at, base.size()))});
    };

    // Truncations: every byte of the header and the count, the edges and the interior of
    // each record, and around every boundary of the files' data and of their 32 KiB reads.
    for (size_t at = 0; at < records; ++at)
        cut(at, "in the header");
    for (uint32_t r = 0; r < layout.count; ++r) {
        size_t start = records + r * RecordSize;
        for (size_t at = start; at < start + RecordSize;
             at += (at - start < 8 || start + RecordSize - at <= 12) ? 1 : 37)
            cut(at, "in a record");
    }
    std::set<size_t> dataCuts;
    size_t fileAt = data;
    for (uint32_t r = 0; r < layout.count; ++r) {
        uint32_t size = Get32(base, records + r * RecordSize + 520);
        for (size_t chunk = 0; chunk <= size; chunk += 0x8000) {
            for (long delta : {-1L, 0L, 1L}) {
                long at = static_cast<long>(fileAt + chunk) + delta;
                if (at >= static_cast<long>(data) && at <= static_cast<long>(base.size()))
                    dataCuts.insert(static_cast<size_t>(at));
            }
        }
        fileAt += size;
        for (long delta : {-1L, 0L, 1L})
            dataCuts.insert(std::min(base.size(), static_cast<size_t>(static_cast<long>(fileAt) + delta)));
    }
    for (size_t at : dataCuts)
        cut(at, "in the data");

    // Every value of the two length bytes.
    size_t versionAt = 1 + base[0];
    for (int value = 0; value < 256; ++value) {
        Bytes name = base;
        name[0] = static_cast<uint8_t>(value);
        cases.push_back({"name length " + std::to_string(value), name});
        Bytes version = base;
        version[versionAt] = static_cast<uint8_t>(value);
        cases.push_back({"version length " + std::to_string(value), version});
    }

    // Entry counts: small ones, the extremes, and seeded ones.
    Random random(0x7E55A);
    std::vector<uint32_t> counts = {0, 1, 2, 4, 5, 8, 100, 0x7FFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (int i = 0; i < 100; ++i)
        counts.push_back(i % 2 ? random.Next() : random.Below(4096));
    for (uint32_t count : counts) {
        Bytes damaged = base;
        Put32(damaged, layout.countAt, count);
        cases.push_back({"count " + std::to_string(count), damaged});
    }

    // Sizes: neighbours of the true size and of the read size, the extremes, every single
    // bit, and seeded values.
    for (uint32_t r = 0; r < layout.count; ++r) {
        size_t at = records + r * RecordSize + 520;
        uint32_t size = Get32(base, at);
        std::vector<uint32_t> sizes = {0,          1,         size - 1, size + 1,   size + 0x8000, size - 0x8000,
                                       0x7FFF,     0x8000,    0x8001,   0x80000000, 0xFFFF7FFF,    0xFFFF8000,
                                       0xFFFFFFFE, 0xFFFFFFFF};
        for (int bit = 0; bit < 32; ++bit)
            sizes.push_back(size ^ (1u << bit));
        for (int i = 0; i < 20; ++i)
            sizes.push_back(random.Below(0x20000));
        for (uint32_t value : sizes) {
            Bytes damaged = base;
            Put32(damaged, at, value);
            cases.push_back({"size of entry " + std::to_string(r) + " " + std::to_string(value), damaged});
        }
    }

    // Names: a unit at or near the end of the name set to a separator, a stream or drive
    // colon, a dot, a NUL, another forbidden unit or a seeded one; whole names that lead out
    // of the folder; and names with no NUL in their field.
    const uint16_t units[] = {'\\', '/', ':', '.', 0, '*', '?', '"', '<', '>', '|', 0x1F, ' ', 'a', 0xD800, 0xFFFF};
    for (uint32_t r = 0; r < layout.count; ++r) {
        size_t at = records + r * RecordSize;
        size_t length = 0;
        while (length < 260 && Get16(base, at + 2 * length) != 0)
            ++length;
        for (int i = 0; i < 200; ++i) {
            Bytes damaged = base;
            size_t position = random.Below(static_cast<uint32_t>(length + 2));
            uint16_t unit = i % 4 == 3 ? static_cast<uint16_t>(random.Next()) : units[random.Below(sizeof units / 2)];
            memcpy(&damaged[at + 2 * position], &unit, 2);
            cases.push_back({"name unit of entry " + std::to_string(r), damaged});
        }
        for (const wchar_t* name : {L".", L"..", L"..\\escaped.msp", L"../escaped.msp", L"\\escaped.msp",
                                    L"C:\\escaped.msp", L"x.msp:stream", L"NUL", L"dot."}) {
            Bytes damaged = base;
            memcpy(&damaged[at], name, (wcslen(name) + 1) * 2);
            cases.push_back({"name of entry " + std::to_string(r), damaged});
        }
        Bytes unterminated = base;
        for (size_t unit = 0; unit < 260; ++unit)
            memcpy(&unterminated[at + 2 * unit], L"n", 2);
        cases.push_back({"name without NUL of entry " + std::to_string(r), unterminated});
    }

    // Seeded flips of one to three bytes anywhere in the header and the table.
    for (int i = 0; i < 400; ++i) {
        Bytes damaged = base;
        int flips = 1 + static_cast<int>(random.Below(3));
        for (int f = 0; f < flips; ++f)
            damaged[random.Below(static_cast<uint32_t>(data))] ^= static_cast<uint8_t>(1 + random.Below(255));
        cases.push_back({"flips " + std::to_string(i), damaged});
    }
    return cases;
}

const std::set<std::wstring> headerLines = {L"Failed to read product name.", L"Failed to read product version."};
const std::set<std::wstring> extractionLines = {
    L"Failed to read the update table.", L"Failed to read update table entry.", L"Output directory not accessible.",
    L"Failed to create update file.",    L"Failed to extract update.",          L"Invalid update file name.",
};

uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Runs one damaged payload and checks its outcome; returns false after the first failure.
bool RunCase(const TempFolder& root, const Damaged& damaged, std::map<std::wstring, int>& outcomes)
{
    SCOPED_TRACE(damaged.what);
    std::wstring out = root / L"out";
    std::wstring payloadPath = root / L"payload.bin";
    std::wstring logPath = root / L"TessarvaneUpdater.log";

    ResetAppState();
    appState.logFolder = root.path() + L"\\";
    OpenLogFile();
    EXPECT_TRUE(WriteBehindOwnImage(payloadPath, damaged.payload));
    appState.payloadFile.reset(CreateFileW(payloadPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    RunRecord record;
    int header = ReadPayloadHeader(record);
    int extraction = -1;
    UpdateTable table;
    if (header == PayloadHeaderRead)
        extraction = ExtractUpdates(out.c_str(), &table, record, nullptr);
    ResetAppState();

    std::vector<std::wstring> logged = ReadLogMessages(logPath);
    std::vector<std::wstring> extracted = ListFolder(out, Entries::Files);
    Layout layout = LayoutOf(damaged.payload);
    uint64_t carried = damaged.payload.size() > layout.dataAt ? damaged.payload.size() - layout.dataAt : 0;
    uint64_t written = 0;
    for (const std::wstring& name : extracted)
        written += FileSize(out + L"\\" + name);

    std::vector<std::wstring> around = ListFolder(root.path());
    around.erase(std::remove(around.begin(), around.end(), std::wstring(L"out")), around.end());
    EXPECT_EQ(around, (std::vector<std::wstring>{L"TessarvaneUpdater.log", L"payload.bin"}))
        << "something was written outside the output folder";
    for (const std::wstring& name : ListFolder(out))
        EXPECT_TRUE(std::find(extracted.begin(), extracted.end(), name) != extracted.end()) << "a folder in out";
    EXPECT_LE(written, carried) << "more bytes written than the payload carries";

    if (header == PayloadMissing) {
        EXPECT_TRUE(damaged.payload.empty());
        EXPECT_TRUE(logged.empty());
    } else if (header == PayloadHeaderUnreadable) {
        EXPECT_EQ(logged.size(), 1u);
        EXPECT_TRUE(!logged.empty() && headerLines.count(logged[0]));
        EXPECT_TRUE(extracted.empty());
    } else if (extraction == 1) {
        EXPECT_EQ(logged.size(), 2u);
        EXPECT_TRUE(!logged.empty() && logged[0] == L"Extracting update files.");
        EXPECT_TRUE(logged.size() == 2 && extractionLines.count(logged[1]));
    } else {
        EXPECT_EQ(extraction, 0);
        EXPECT_EQ(logged, std::vector<std::wstring>{L"Extracting update files."});
        EXPECT_EQ(extracted.size(), table.size());
        uint64_t at = layout.dataAt;
        for (const PatchFileInfo& entry : table) {
            Bytes bytes;
            EXPECT_TRUE(ReadAllBytes(out + L"\\" + entry.fileName, bytes));
            EXPECT_TRUE(at + entry.fileSize <= damaged.payload.size() && bytes.size() == entry.fileSize &&
                        std::equal(bytes.begin(), bytes.end(), damaged.payload.begin() + static_cast<size_t>(at)))
                << "an extracted file is not complete";
            at += entry.fileSize;
        }
    }

    ++outcomes[logged.empty() ? std::wstring(L"(nothing logged)") : logged.back()];
    RemoveTree(out);
    DeleteFileW(logPath.c_str());
    return !testing::Test::HasFailure();
}

TEST(CorruptionSweep, EveryDamagedPayloadEndsInAKnownFailureOrCompleteFiles)
{
    Bytes updater;
    ASSERT_TRUE(ReadAllBytes(FixturePath(L"sweep.exe"), updater));
    Bytes base = PayloadOf(updater);
    ASSERT_GT(base.size(), 0x8000u);
    ASSERT_EQ(LayoutOf(base).count, 3u);

    std::vector<Damaged> cases = DeriveDamage(base);
    ASSERT_GE(cases.size(), 2000u);

    TempFolder root;
    size_t succeeded = 0;
    std::map<std::wstring, int> outcomes;
    for (const Damaged& damaged : cases) {
        if (!RunCase(root, damaged, outcomes))
            break;
        ++succeeded;
    }
    EXPECT_EQ(succeeded, cases.size());
    std::printf("%zu damaged payloads checked; last log lines:\n", succeeded);
    for (const auto& outcome : outcomes)
        std::printf("%6d  %ls\n", outcome.second, outcome.first.c_str());
}

}  // namespace
