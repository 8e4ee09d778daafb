// The writer: files read back as written, directory trees are valid red-black trees, and a
// package copied stream by stream through Writer is still a package for msitools.
#include "CompoundFile.h"
#include "MsiStreamName.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

compound::Bytes Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return compound::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Save(const std::string& path, const compound::Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string RunCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return "popen failed";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

compound::Bytes Pattern(size_t size, uint8_t seed)
{
    compound::Bytes b(size);
    for (size_t i = 0; i < size; i++)
        b[i] = uint8_t(seed + i * 7 + (i >> 9));
    return b;
}

TEST(CompoundWriter, WritesStreamsAndStoragesThatReadBack)
{
    const compound::ClassId patch = compound::ParseClassId("{000C1086-0000-0000-C000-000000000046}");
    const compound::ClassId transform = compound::ParseClassId("{000C1082-0000-0000-C000-000000000046}");
    compound::Writer writer(patch);
    writer.AddStream(0, u"small", Pattern(100, 1));
    writer.AddStream(0, u"exactly4096", Pattern(4096, 2));
    writer.AddStream(0, u"large", Pattern(70000, 3));
    writer.AddStream(0, u"empty", {});
    uint32_t sub = writer.AddStorage(0, u"#T1", transform);
    writer.AddStream(sub, u"inner", Pattern(4095, 4));

    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(writer.Write(), &error)) << error;
    EXPECT_EQ(reader.Root().classId, patch);
    EXPECT_EQ(reader.Children(reader.Root()).size(), 5u);
    const std::vector<std::pair<std::u16string, compound::Bytes>> expected = {
        {u"small", Pattern(100, 1)}, {u"exactly4096", Pattern(4096, 2)}, {u"large", Pattern(70000, 3)}, {u"empty", {}}};
    for (const auto& e : expected) {
        const compound::Entry* entry = reader.Find(reader.Root(), e.first);
        ASSERT_NE(entry, nullptr);
        compound::Bytes data;
        ASSERT_TRUE(reader.ReadStream(*entry, data, &error)) << error;
        EXPECT_EQ(data, e.second);
    }
    const compound::Entry* storage = reader.Find(reader.Root(), u"#T1");
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(storage->type, compound::EntryType::Storage);
    EXPECT_EQ(storage->classId, transform);
    const compound::Entry* inner = reader.Find(*storage, u"inner");
    ASSERT_NE(inner, nullptr);
    compound::Bytes data;
    ASSERT_TRUE(reader.ReadStream(*inner, data, &error)) << error;
    EXPECT_EQ(data, Pattern(4095, 4));
    EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << error;
}

TEST(CompoundWriter, WritesValidRedBlackTreesForEverySiblingCount)
{
    for (int count = 0; count <= 70; count++) {
        compound::Writer writer;
        for (int i = 0; i < count; i++) {
            std::u16string name = u"s";
            for (int j = 0; j < i % 5; j++)
                name += u'x';
            name += char16_t(u'A' + i);
            writer.AddStream(0, name, Pattern(size_t(i), uint8_t(i)));
        }
        compound::Reader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(writer.Write(), &error)) << count << ": " << error;
        EXPECT_EQ(reader.Children(reader.Root()).size(), size_t(count));
        EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << count << ": " << error;
    }
}

TEST(CompoundWriter, WritesFilesThatNeedADifat)
{
    // More than 109 FAT sectors (about 7 MB) puts FAT sector numbers in DIFAT sectors.
    compound::Writer writer;
    writer.AddStream(0, u"huge", Pattern(8 * 1024 * 1024, 9));
    compound::Bytes bytes = writer.Write();
    EXPECT_GT(bytes[72] | (bytes[73] << 8), 0);  // number of DIFAT sectors
    compound::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(bytes, &error)) << error;
    compound::Bytes data;
    ASSERT_TRUE(reader.ReadStream(*reader.Find(reader.Root(), u"huge"), data, &error)) << error;
    EXPECT_EQ(data, Pattern(8 * 1024 * 1024, 9));
}

TEST(CompoundWriter, CopiesAPackageThatMsitoolsStillReads)
{
    compound::Reader original;
    std::string error;
    ASSERT_TRUE(original.Open(Load(TINY_MSI), &error)) << error;
    compound::Writer writer(original.Root().classId);
    for (const compound::Entry* e : original.Children(original.Root())) {
        ASSERT_EQ(e->type, compound::EntryType::Stream);
        compound::Bytes data;
        ASSERT_TRUE(original.ReadStream(*e, data, &error)) << error;
        writer.AddStream(0, e->name, data);
    }
    const std::string copy = std::string(TEST_OUT_DIR) + "/copy.msi";
    Save(copy, writer.Write());
    for (const char* command :
         {"streams", "tables", "suminfo", "export %s File", "export %s Media", "export %s Property"}) {
        std::string args = command;
        std::string table;
        size_t at = args.find(" %s");
        if (at != std::string::npos)
            table = args.substr(at + 4), args = args.substr(0, at);
        std::string want = RunCommand("msiinfo " + args + " " + TINY_MSI + " " + table);
        std::string got = RunCommand("msiinfo " + args + " " + copy + " " + table);
        EXPECT_FALSE(got.empty());
        EXPECT_EQ(got, want) << command;
    }
    EXPECT_EQ(RunCommand("msiinfo extract " + copy + " tiny.cab"),
              RunCommand(std::string("msiinfo extract ") + TINY_MSI + " tiny.cab"));
}

}  // namespace
