// The reader against a real package made by wixl, against broken and hostile files, and
// reading on demand from a source instead of memory.
#include "CompoundFile.h"
#include "MsiStreamName.h"
#include "PropertySet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace {

compound::Bytes Load(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return compound::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put32(compound::Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

uint32_t Get32(const compound::Bytes& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

std::set<std::string> StreamNames(const compound::Reader& reader)
{
    std::set<std::string> names;
    for (const compound::Entry* e : reader.Children(reader.Root()))
        names.insert(compound::DecodeMsiStreamName(e->name));
    return names;
}

TEST(CompoundReader, OpensAWixlPackageWithTheDatabaseClassId)
{
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(Load(TINY_MSI), &error)) << error;
    EXPECT_EQ(reader.Root().type, compound::EntryType::Root);
    EXPECT_EQ(reader.Root().classId, compound::ParseClassId("{000C1084-0000-0000-C000-000000000046}"));
    std::set<std::string> names = StreamNames(reader);
    for (const char* expected :
         {"!_StringPool", "!_StringData", "!_Tables", "!_Columns", "!File", "!Media", "tiny.cab"})
        EXPECT_EQ(names.count(expected), 1u) << expected;
    EXPECT_EQ(names.count("\x05SummaryInformation"), 1u);
}

TEST(CompoundReader, ReadsTheTemplateFromSummaryInformation)
{
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(Load(TINY_MSI), &error)) << error;
    const compound::Entry* info = reader.Find(reader.Root(), u"\x0005SummaryInformation");
    ASSERT_NE(info, nullptr);
    compound::Bytes stream;
    ASSERT_TRUE(reader.ReadStream(*info, stream, &error)) << error;
    std::string value;
    ASSERT_TRUE(compound::ReadStringProperty(stream, compound::PID_TEMPLATE, value, &error)) << error;
    EXPECT_EQ(value, "Intel;1033");
    ASSERT_TRUE(compound::ReadStringProperty(stream, compound::PID_SUBJECT, value, &error)) << error;
    EXPECT_EQ(value, "Compound Tiny");
    EXPECT_FALSE(compound::ReadStringProperty(stream, compound::PID_LASTAUTHOR + 100, value, &error));
}

TEST(CompoundReader, ReadsTheCabinetStreamAsMsiinfoExtractsIt)
{
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(Load(TINY_MSI), &error)) << error;
    const compound::Entry* cab = reader.Find(reader.Root(), compound::EncodeMsiStreamName("tiny.cab", false));
    ASSERT_NE(cab, nullptr);
    compound::Bytes stream;
    ASSERT_TRUE(reader.ReadStream(*cab, stream, &error)) << error;
    EXPECT_GT(stream.size(), 4096u);  // a chain of ordinary sectors, not the mini stream
    EXPECT_EQ(stream, Load(TINY_CAB));
}

TEST(CompoundReader, ReadsSmallStreamsFromTheMiniStream)
{
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(Load(TINY_MSI), &error)) << error;
    const compound::Entry* pool = reader.Find(reader.Root(), compound::EncodeMsiStreamName("_StringPool", true));
    ASSERT_NE(pool, nullptr);
    compound::Bytes stream;
    ASSERT_TRUE(reader.ReadStream(*pool, stream, &error)) << error;
    EXPECT_LT(stream.size(), 4096u);
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ(stream.size() % 4, 0u);
}

TEST(CompoundReader, RejectsInputThatIsNotACompoundFile)
{
    const compound::Bytes package = Load(TINY_MSI);
    const std::vector<compound::Bytes> inputs = {
        {},
        compound::Bytes(511, 0xD0),
        compound::Bytes(4096, 0),
        compound::Bytes(package.begin(), package.begin() + 600),
    };
    for (const compound::Bytes& input : inputs) {
        compound::Reader reader;
        std::string error;
        EXPECT_FALSE(reader.Open(input, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(reader.Children(reader.Root()).empty());
    }
}

TEST(CompoundReader, RejectsADirectoryChainThatLoops)
{
    compound::Bytes bytes = Load(TINY_MSI);
    uint32_t dirSector = Get32(bytes, 48);
    uint32_t fatSector = Get32(bytes, 76);
    Put32(bytes, (size_t(fatSector) + 1) * 512 + dirSector * 4, dirSector);
    compound::Reader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(bytes, &error));
    EXPECT_NE(error.find("loops"), std::string::npos) << error;
}

TEST(CompoundReader, RejectsADirectoryTreeThatLoops)
{
    compound::Bytes bytes = Load(TINY_MSI);
    size_t dir = (size_t(Get32(bytes, 48)) + 1) * 512;
    uint32_t child = Get32(bytes, dir + 76);
    Put32(bytes, dir + size_t(child) * 128 + 68, child);  // the root's first child is its own left sibling
    compound::Reader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(bytes, &error));
    EXPECT_NE(error.find("loops"), std::string::npos) << error;
}

TEST(CompoundReader, RejectsPointersOutsideTheFile)
{
    const std::vector<std::pair<size_t, uint32_t>> corruptions = {
        {48, 0x00FFFFFF},  // first directory sector
        {76, 0x00FFFFFF},  // first FAT sector
        {44, 0x7FFFFFFF},  // number of FAT sectors
    };
    for (const auto& c : corruptions) {
        compound::Bytes bytes = Load(TINY_MSI);
        Put32(bytes, c.first, c.second);
        compound::Reader reader;
        std::string error;
        EXPECT_FALSE(reader.Open(bytes, &error)) << c.first;
    }
}

// Everything a reader gives for an open file, walking every storage reached from the root:
// each entry's name, type and size, and each stream's bytes or the reason they could not be
// read. Checks on the way what holds for any file a correct reader accepts, however broken.
std::string DescribeContents(const compound::Reader& reader, uint64_t fileSize)
{
    std::string out;
    std::set<uint32_t> seen = {reader.Root().id};
    std::vector<const compound::Entry*> storages = {&reader.Root()};
    while (!storages.empty()) {
        const compound::Entry* storage = storages.back();
        storages.pop_back();
        for (const compound::Entry* e : reader.Children(*storage)) {
            // Each entry lies in exactly one tree, so a walk can neither loop nor meet it twice.
            if (!seen.insert(e->id).second) {
                ADD_FAILURE() << "entry " << e->id << " is reached twice";
                return out;
            }
            out += std::to_string(e->id) + " " + std::to_string(int(e->type)) + " " + std::to_string(e->size) + ":";
            for (char16_t c : e->name)
                out += std::to_string(int(c)) + ",";
            if (e->type == compound::EntryType::Storage) {
                storages.push_back(e);
                continue;
            }
            EXPECT_EQ(e->type, compound::EntryType::Stream) << "entry " << e->id;
            EXPECT_TRUE(reader.Children(*e).empty()) << "stream " << e->id << " has children";
            compound::Bytes stream;
            std::string error;
            if (reader.ReadStream(*e, stream, &error)) {
                // A stream's sectors are distinct sectors of the file, so no stream read back
                // can be longer than the file, and none differs from its declared size.
                EXPECT_EQ(stream.size(), e->size) << "stream " << e->id;
                EXPECT_LE(stream.size(), fileSize) << "stream " << e->id;
                compound::Bytes again;
                EXPECT_TRUE(reader.ReadStream(*e, again, &error)) << "stream " << e->id << ": " << error;
                EXPECT_EQ(again, stream) << "stream " << e->id << " reads differently the second time";
                out += " " + std::string(stream.begin(), stream.end());
            } else {
                EXPECT_FALSE(error.empty()) << "stream " << e->id << " failed without a reason";
                out += " error " + error;
            }
            out += "\n";
        }
    }
    std::string error;
    bool balanced = reader.CheckRedBlackTree(&error);
    EXPECT_TRUE(balanced || !error.empty()) << "the tree check failed without a reason";
    return out + (balanced ? "balanced" : "unbalanced: " + error);
}

TEST(CompoundReader, SurvivesEveryByteOfTheHeaderFatAndDirectoryCorrupted)
{
    // Each corruption ends in an open that fails with a reason, or in a file whose every
    // stream reads back within its declared size and the file's, or fails with a reason. The
    // same bytes read on demand give the same result, and never a read outside the file.
    // The sanitized build of these tests turns any overread on the way into a failure too.
    const compound::Bytes original = Load(TINY_MSI);
    size_t dir = (size_t(Get32(original, 48)) + 1) * 512;
    size_t fat = (size_t(Get32(original, 76)) + 1) * 512;
    std::vector<size_t> offsets;
    for (size_t i = 0; i < 512; i++)
        offsets.push_back(i);
    for (size_t i = 0; i < 512 && fat + i < original.size(); i++)
        offsets.push_back(fat + i);
    for (size_t i = 0; i < 1024 && dir + i < original.size(); i++)
        offsets.push_back(dir + i);
    size_t opened = 0, failed = 0;
    for (size_t at : offsets) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0xFF)}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " set to " + std::to_string(value));
            compound::Bytes bytes = original;
            bytes[at] = value;
            compound::Reader held;
            std::string heldError;
            bool heldOpened = held.Open(bytes, &heldError);

            compound::Reader onDemand;
            std::string demandError;
            bool demandOpened = onDemand.Open(
                bytes.size(),
                [&](uint64_t offset, uint8_t* out, size_t count) {
                    EXPECT_TRUE(offset <= bytes.size() && count <= bytes.size() - offset)
                        << count << " bytes read at " << offset << " of " << bytes.size();
                    if (offset > bytes.size() || count > bytes.size() - offset)
                        return false;
                    std::copy(bytes.begin() + long(offset), bytes.begin() + long(offset + count), out);
                    return true;
                },
                &demandError);

            ASSERT_EQ(heldOpened, demandOpened) << heldError << " / " << demandError;
            if (!heldOpened) {
                failed++;
                EXPECT_FALSE(heldError.empty());
                EXPECT_EQ(heldError, demandError);
                EXPECT_TRUE(held.Children(held.Root()).empty());
            } else {
                opened++;
                EXPECT_EQ(held.Root().type, compound::EntryType::Root);
                EXPECT_EQ(DescribeContents(held, bytes.size()), DescribeContents(onDemand, bytes.size()));
            }
            if (HasFailure())
                return;
        }
    }
    // Both outcomes occur, or the corruptions would not be reaching the reader's checks.
    EXPECT_GT(opened, 100u);
    EXPECT_GT(failed, 100u);
}

TEST(CompoundReader, TreeCheckLooksOnlyAtTreesReachedFromTheRoot)
{
    // Open validates the entries that the walk from the root reaches; an unused entry turned
    // into a storage is reached by no walk, so wherever its child points it is not followed.
    compound::Writer writer;
    writer.AddStream(0, u"a", {1, 2, 3});
    const compound::Bytes original = writer.Write();
    const size_t unused = (size_t(Get32(original, 48)) + 1) * 512 + 2 * 128;
    ASSERT_EQ(original[unused + 66], 0) << "the third directory entry is unused";
    for (uint32_t child : {0x00FFFFFFu, 0x7FFFFFFFu, 0xFFFFFFFAu, 1u}) {
        compound::Bytes bytes = original;
        bytes[unused + 66] = 1;  // storage
        bytes[unused + 67] = 0;  // red
        Put32(bytes, unused + 68, 0xFFFFFFFF);
        Put32(bytes, unused + 72, 0xFFFFFFFF);
        Put32(bytes, unused + 76, child);
        compound::Reader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(bytes, &error)) << error;
        EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << child << ": " << error;
    }

    // The trees that are reached are still checked.
    compound::Bytes red = original;
    red[(size_t(Get32(red, 48)) + 1) * 512 + 128 + 67] = 0;
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(red, &error)) << error;
    EXPECT_FALSE(reader.CheckRedBlackTree(&error));
    EXPECT_EQ(error, "tree root is red");
}

TEST(CompoundReader, ReadingOnDemandFetchesOnlyTheTablesTheDirectoryAndTheStreamAsked)
{
    // A 2 MiB stream beside a small one: opening and reading the small one touches a few
    // sectors of the file, and gives what the whole file in memory gives.
    compound::Writer writer;
    compound::Bytes small(300);
    for (size_t i = 0; i < small.size(); i++)
        small[i] = uint8_t(i * 13);
    writer.AddStream(0, u"small", small);
    writer.AddStream(0, u"large", compound::Bytes(2 << 20, 0x5A));
    const compound::Bytes file = writer.Write();

    uint64_t fetched = 0;
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(
        file.size(),
        [&](uint64_t offset, uint8_t* out, size_t count) {
            if (offset > file.size() || count > file.size() - offset)
                return false;
            std::copy(file.begin() + long(offset), file.begin() + long(offset + count), out);
            fetched += count;
            return true;
        },
        &error))
        << error;
    const compound::Entry* entry = reader.Find(reader.Root(), u"small");
    ASSERT_NE(entry, nullptr);
    compound::Bytes stream;
    ASSERT_TRUE(reader.ReadStream(*entry, stream, &error)) << error;
    EXPECT_EQ(stream, small);
    EXPECT_LT(fetched, 40000u) << "of " << file.size();
    EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << error;

    // A source that fails is an error, not a short read.
    compound::Reader failing;
    EXPECT_FALSE(failing.Open(
        file.size(), [](uint64_t, uint8_t*, size_t) { return false; }, &error));
}

TEST(CompoundReader, ParsesClassIdsInRegistryForm)
{
    compound::ClassId patch = compound::ParseClassId("{000C1086-0000-0000-C000-000000000046}");
    const compound::ClassId expected = {0x86, 0x10, 0x0C, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(patch, expected);
    EXPECT_EQ(compound::ParseClassId("000C1086-0000-0000-C000-000000000046"), compound::ClassId{});
    EXPECT_EQ(compound::ParseClassId("{000C1086+0000-0000-C000-000000000046}"), compound::ClassId{});
}

TEST(MsiStreamName, EncodesAsWindowsInstallerDoes)
{
    EXPECT_EQ(compound::EncodeMsiStreamName("File", true), std::u16string({0x4840, 0x430F, 0x422F}));
    // "PATCH_CAB": pairs PA, TC, H_, CA, then B alone.
    std::u16string cab = compound::EncodeMsiStreamName("PATCH_CAB", false);
    EXPECT_EQ(cab.size(), 5u);
    EXPECT_EQ(cab[4], char16_t(0x4800 + 11));
    EXPECT_EQ(compound::DecodeMsiStreamName(cab), "PATCH_CAB");
    EXPECT_EQ(compound::DecodeMsiStreamName(compound::EncodeMsiStreamName("_StringPool", true)), "!_StringPool");
    EXPECT_EQ(compound::EncodeMsiStreamName("a b", false), std::u16string({0x4824, u' ', 0x4825}));
}

}  // namespace
