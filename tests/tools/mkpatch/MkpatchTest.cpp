// tessarvane-mkpatch without Wine: the command line, the errors that leave nothing written,
// and the structure of written patches read back with the compound reader.
#include "CompoundFile.h"
#include "Md5.h"
#include "MsiDatabase.h"
#include "MsiStreamName.h"
#include "PatchBuilder.h"
#include "PropertySet.h"
#include "RestartActions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using mkpatch::PatchOptions;

const std::string kData = TEST_DATA_DIR;
const std::string kFirst = kData + "/first.msi";
const std::string kSecond = kData + "/second.msi";
const char* const kFirstCode = "{7E55AAAA-0000-4000-8000-000000000001}";
const char* const kSecondCode = "{7E55AAAA-0000-4000-8000-000000000002}";

compound::Bytes Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return compound::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder for one test's outputs, with a replacement file in it.
std::string Folder(const std::string& name)
{
    fs::path folder = fs::path(kData) / "out" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "new.txt") << "app version 2\n";
    return folder.string();
}

std::string Summary(const compound::Reader& reader, const compound::Entry& storage, uint32_t id)
{
    const compound::Entry* info = reader.Find(storage, u"\x0005SummaryInformation");
    compound::Bytes stream;
    std::string value;
    if (info && reader.ReadStream(*info, stream, nullptr))
        compound::ReadStringProperty(stream, id, value, nullptr);
    return value;
}

int32_t SummaryInteger(const compound::Reader& reader, const compound::Entry& storage, uint32_t id)
{
    const compound::Entry* info = reader.Find(storage, u"\x0005SummaryInformation");
    compound::Bytes stream;
    std::vector<compound::Property> properties;
    if (!info || !reader.ReadStream(*info, stream, nullptr) || !compound::ReadProperties(stream, properties, nullptr))
        return -1;
    for (const compound::Property& p : properties)
        if (p.id == id)
            return p.integer;
    return -1;
}

bool HasTable(const compound::Reader& reader, const compound::Entry& storage, const std::string& table)
{
    return reader.Find(storage, compound::EncodeMsiStreamName(table, true)) != nullptr;
}

PatchOptions OnePatch(const std::string& folder)
{
    PatchOptions options;
    options.output = folder + "/patch.msp";
    options.targets = {{kFirst, {{"app.txt", folder + "/new.txt"}}}};
    return options;
}

int RunTool(const std::string& args)
{
    int status = std::system((std::string(MKPATCH_EXE) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MkpatchCommandLine, AcceptsTheDocumentedForms)
{
    PatchOptions options;
    std::string error;
    ASSERT_TRUE(mkpatch::ParseCommandLine({"--output", "p.msp", "--target", "a.msi", "--replace", "app.txt=new.txt"},
                                          options, &error))
        << error;
    EXPECT_EQ(options.output, "p.msp");
    ASSERT_EQ(options.targets.size(), 1u);
    EXPECT_EQ(options.targets[0].replacements[0].fileName, "app.txt");
    EXPECT_EQ(options.targets[0].replacements[0].newFile, "new.txt");
    EXPECT_FALSE(options.restart);
    EXPECT_FALSE(options.allowRemoval);

    ASSERT_TRUE(mkpatch::ParseCommandLine(
        {"--output", "p.msp", "--product-version", "1.2.3", "--restart", "--broken-cabinet", "--target", "a.msi",
         "--replace", "x=1", "--replace", "y=a=b", "--target", "b.msi", "--replace", "z=2", "--allow-removal"},
        options, &error))
        << error;
    EXPECT_EQ(options.productVersion, "1.2.3");
    EXPECT_TRUE(options.restart);
    EXPECT_TRUE(options.brokenCabinet);
    EXPECT_TRUE(options.allowRemoval);
    ASSERT_EQ(options.targets.size(), 2u);
    EXPECT_EQ(options.targets[0].replacements.size(), 2u);
    EXPECT_EQ(options.targets[0].replacements[1].newFile, "a=b");
    EXPECT_EQ(options.targets[1].product, "b.msi");

    // A target may only add files.
    ASSERT_TRUE(mkpatch::ParseCommandLine({"--output", "p.msp", "--target", "a.msi", "--add", "extra.txt=n.txt"},
                                          options, &error))
        << error;
    ASSERT_EQ(options.targets[0].additions.size(), 1u);
    EXPECT_TRUE(options.targets[0].replacements.empty());
    EXPECT_EQ(options.targets[0].additions[0].fileName, "extra.txt");
}

TEST(MkpatchCommandLine, RefusesUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--target", "a.msi", "--replace", "x=y"},                                 // no output
        {"--output", "p.msp"},                                                     // no target
        {"--output", "p.msp", "--target", "a.msi"},                                // target without replace
        {"--output", "p.msp", "--replace", "x=y", "--target", "a.msi"},            // replace before target
        {"--output", "p.msp", "--target", "a.msi", "--replace", "xy"},             // no '='
        {"--output", "p.msp", "--target", "a.msi", "--replace", "=y"},             // no file name
        {"--output", "p.msp", "--target", "a.msi", "--replace", "x="},             // no new file
        {"--output", "p.msp", "--target", "a.msi", "--replace", "x=y", "--frob"},  // unknown
        {"--output", "p.msp", "--target", "a.msi", "--replace"},                   // missing value
        {"--output", "p.msp", "--add", "x=y", "--target", "a.msi"},                // add before target
        {"--output", "p.msp", "--target", "a.msi", "--add", "x"},                  // no '='
        {"--output", "p.msp", "--product-version", "1.x", "--target", "a.msi", "--replace", "x=y"},
        {"--output", "p.msp", "--product-version", "1", "--target", "a.msi", "--replace", "x=y"},
        {"--output", "a", "--output", "b", "--target", "a.msi", "--replace", "x=y"},
    };
    for (const auto& args : cases) {
        PatchOptions options;
        std::string error;
        EXPECT_FALSE(mkpatch::ParseCommandLine(args, options, &error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}

TEST(MkpatchErrors, WritesNothingForAProductThatIsNotAnMsi)
{
    const std::string folder = Folder("not-msi");
    PatchOptions options = OnePatch(folder);
    options.targets[0].product = folder + "/new.txt";
    std::string error;
    EXPECT_FALSE(mkpatch::BuildPatch(options, &error));
    EXPECT_NE(error.find("not a Windows Installer package"), std::string::npos) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);  // only new.txt
}

TEST(MkpatchErrors, WritesNothingForAFileNameTheProductDoesNotHave)
{
    const std::string folder = Folder("no-file");
    PatchOptions options = OnePatch(folder);
    options.targets[0].replacements[0].fileName = "missing.txt";
    std::string error;
    EXPECT_FALSE(mkpatch::BuildPatch(options, &error));
    EXPECT_NE(error.find("no file named 'missing.txt'"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(options.output));
}

TEST(MkpatchErrors, WritesNothingForAnUnreadableReplacement)
{
    const std::string folder = Folder("no-replacement");
    PatchOptions options = OnePatch(folder);
    options.targets[0].replacements[0].newFile = folder + "/absent.txt";
    std::string error;
    EXPECT_FALSE(mkpatch::BuildPatch(options, &error));
    EXPECT_NE(error.find("cannot read replacement file"), std::string::npos) << error;
    options.targets[0].replacements[0].newFile = folder;  // a folder is not a file
    EXPECT_FALSE(mkpatch::BuildPatch(options, &error));
    EXPECT_FALSE(fs::exists(options.output));
}

TEST(MkpatchErrors, ExitsWithOneForBadInputAndTwoForUsage)
{
    const std::string folder = Folder("exit-codes");
    EXPECT_EQ(
        RunTool("--output " + folder + "/p.msp --target " + kFirst + " --replace nope.txt=" + folder + "/new.txt"), 1);
    EXPECT_EQ(RunTool("--output " + folder + "/p.msp --target " + kFirst), 2);
    EXPECT_EQ(RunTool("--output " + folder + "/p.msp --target " + kFirst + " --replace app.txt=" + folder + "/new.txt"),
              0);
    EXPECT_TRUE(fs::exists(folder + "/p.msp"));
}

TEST(MkpatchStructure, WritesAPatchWithSummaryTransformsAndCabinet)
{
    const std::string folder = Folder("one");
    PatchOptions options = OnePatch(folder);
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);  // no temporary left

    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << error;
    EXPECT_EQ(reader.Root().classId, compound::ParseClassId("{000C1086-0000-0000-C000-000000000046}"));
    EXPECT_EQ(Summary(reader, reader.Root(), compound::PID_TEMPLATE), kFirstCode);
    EXPECT_EQ(Summary(reader, reader.Root(), compound::PID_LASTAUTHOR), ":T1;:#T1");
    const std::string patchCode = Summary(reader, reader.Root(), compound::PID_REVNUMBER);
    EXPECT_EQ(patchCode.size(), 38u);
    EXPECT_NE(compound::ParseClassId(patchCode), compound::ClassId{});
    EXPECT_TRUE(HasTable(reader, reader.Root(), "_StringPool"));
    EXPECT_TRUE(HasTable(reader, reader.Root(), "_StringData"));

    const compound::Entry* cab = reader.Find(reader.Root(), compound::EncodeMsiStreamName("PATCH_CAB", false));
    ASSERT_NE(cab, nullptr);
    compound::Bytes cabinet;
    ASSERT_TRUE(reader.ReadStream(*cab, cabinet, &error)) << error;
    ASSERT_GT(cabinet.size(), 4u);
    EXPECT_EQ(std::string(cabinet.begin(), cabinet.begin() + 4), "MSCF");

    const compound::Entry* first = reader.Find(reader.Root(), u"T1");
    const compound::Entry* second = reader.Find(reader.Root(), u"#T1");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    for (const compound::Entry* t : {first, second}) {
        EXPECT_EQ(t->type, compound::EntryType::Storage);
        EXPECT_EQ(t->classId, compound::ParseClassId("{000C1082-0000-0000-C000-000000000046}"));
        EXPECT_EQ(Summary(reader, *t, compound::PID_TEMPLATE), "Intel;1033");
        EXPECT_EQ(Summary(reader, *t, compound::PID_REVNUMBER).substr(0, 38), kFirstCode);
        EXPECT_TRUE(HasTable(reader, *t, "_StringPool"));
        EXPECT_TRUE(HasTable(reader, *t, "File"));
    }
    EXPECT_EQ(SummaryInteger(reader, *first, compound::PID_CHARCOUNT), 0x080A);
    EXPECT_EQ(SummaryInteger(reader, *second, compound::PID_CHARCOUNT), 0x0802);
    EXPECT_TRUE(HasTable(reader, *first, "MsiFileHash"));
    EXPECT_FALSE(HasTable(reader, *first, "InstallExecuteSequence"));
    EXPECT_FALSE(HasTable(reader, *first, "Property"));
    for (const char* table : {"_Tables", "_Columns", "PatchPackage", "Media"})
        EXPECT_TRUE(HasTable(reader, *second, table)) << table;
}

TEST(MkpatchStructure, EncodesTheFileRowsOfBothTransforms)
{
    const std::string folder = Folder("rows");
    PatchOptions options = OnePatch(folder);
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    compound::Bytes file;
    // T1: mask 0x0008 (FileSize), key string id, FileSize (4 bytes, value ^ 0x80000000).
    ASSERT_TRUE(reader.ReadStream(
        *reader.Find(*reader.Find(reader.Root(), u"T1"), compound::EncodeMsiStreamName("File", true)), file, &error));
    ASSERT_EQ(file.size(), 8u);
    EXPECT_EQ(file[0] | (file[1] << 8), 0x0008);
    const uint32_t size = uint32_t(file[4] | (file[5] << 8) | (file[6] << 16) | (uint32_t(file[7]) << 24));
    EXPECT_EQ(size ^ 0x80000000u, 14u);  // "app version 2\n"
    // #T1: mask 0x00C0 (Attributes, Sequence): PatchAdded, and sequence 3 after two files.
    ASSERT_TRUE(reader.ReadStream(
        *reader.Find(*reader.Find(reader.Root(), u"#T1"), compound::EncodeMsiStreamName("File", true)), file, &error));
    ASSERT_EQ(file.size(), 10u);
    EXPECT_EQ(file[0] | (file[1] << 8), 0x00C0);
    EXPECT_EQ((file[4] | (file[5] << 8)) - 0x8000, 512 | 0x1000);
    const uint32_t sequence = uint32_t(file[6] | (file[7] << 8) | (file[8] << 16) | (uint32_t(file[9]) << 24));
    EXPECT_EQ(sequence ^ 0x80000000u, 3u);
}

TEST(MkpatchStructure, AddsANewFileToTheComponentOfTheProductsFirstFile)
{
    const std::string folder = Folder("add");
    PatchOptions options = OnePatch(folder);
    options.targets[0].additions = {{"extra notes.txt", folder + "/new.txt"}};
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    // T1: a hash for both files; #T1: the replaced file's update, then the new file's whole
    // row (mask 0x0801: eight columns) with a short name beside the long one.
    compound::Bytes hash, file, data;
    const compound::Entry* first = reader.Find(reader.Root(), u"T1");
    const compound::Entry* second = reader.Find(reader.Root(), u"#T1");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(
        reader.ReadStream(*reader.Find(*first, compound::EncodeMsiStreamName("MsiFileHash", true)), hash, &error));
    EXPECT_EQ(hash.size(), 2u * 22u);
    ASSERT_TRUE(reader.ReadStream(*reader.Find(*second, compound::EncodeMsiStreamName("File", true)), file, &error));
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(file[10] | (file[11] << 8), 0x0801);
    ASSERT_TRUE(
        reader.ReadStream(*reader.Find(*second, compound::EncodeMsiStreamName("_StringData", true)), data, &error));
    const std::string strings(data.begin(), data.end());
    EXPECT_NE(strings.find("ADDED1.txt|extra notes.txt"), std::string::npos) << strings;
    EXPECT_NE(strings.find("TvAdded1_7E55AAAA"), std::string::npos) << strings;

    options.targets[0].additions = {{"app.txt", folder + "/new.txt"}};
    EXPECT_FALSE(mkpatch::BuildPatch(options, &error));
    EXPECT_NE(error.find("has a file named 'app.txt' already"), std::string::npos) << error;
}

TEST(MkpatchStructure, WritesTheFamilyAndSequenceIntoThePatchsOwnDatabase)
{
    const std::string folder = Folder("sequence");
    PatchOptions options = OnePatch(folder);
    ASSERT_TRUE(mkpatch::ParseCommandLine({"--output", options.output, "--sequence", "Fixes=1.2.0", "--target", kFirst,
                                           "--replace", "app.txt=" + folder + "/new.txt"},
                                          options, nullptr));
    EXPECT_EQ(options.patchFamily, "Fixes");
    EXPECT_EQ(options.familySequence, "1.2.0");
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    // The project's own reader of databases reads the table back as Windows Installer would.
    mkpatch::MsiDatabase database;
    ASSERT_TRUE(database.Open(Load(options.output), &error)) << error;
    mkpatch::Table table;
    ASSERT_TRUE(database.ReadTable("MsiPatchSequence", table, &error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0][size_t(table.ColumnIndex("PatchFamily"))].text, "Fixes");
    EXPECT_TRUE(table.rows[0][size_t(table.ColumnIndex("ProductCode"))].isNull);
    EXPECT_EQ(table.rows[0][size_t(table.ColumnIndex("Sequence"))].text, "1.2.0");
    EXPECT_TRUE(table.rows[0][size_t(table.ColumnIndex("Attributes"))].isNull);

    // --supersede: the row says msidbPatchSequenceSupersedeEarlier (1).
    ASSERT_TRUE(mkpatch::ParseCommandLine({"--output", options.output, "--sequence", "Fixes=1.3.0", "--supersede",
                                           "--target", kFirst, "--replace", "app.txt=" + folder + "/new.txt"},
                                          options, nullptr));
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    mkpatch::MsiDatabase superseding;
    ASSERT_TRUE(superseding.Open(Load(options.output), &error)) << error;
    ASSERT_TRUE(superseding.ReadTable("MsiPatchSequence", table, &error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    const mkpatch::Value& attributes = table.rows[0][size_t(table.ColumnIndex("Attributes"))];
    EXPECT_FALSE(attributes.isNull);
    EXPECT_EQ(attributes.integer, 1);

    EXPECT_FALSE(mkpatch::ParseCommandLine(
        {"--output", "p", "--sequence", "Fixes=one", "--target", "a", "--replace", "x=y"}, options, &error));
    EXPECT_FALSE(mkpatch::ParseCommandLine({"--output", "p", "--supersede", "--target", "a", "--replace", "x=y"},
                                           options, &error));
    EXPECT_EQ(error, "--supersede needs --sequence");
}

TEST(MkpatchStructure, MarksThePatchRemovableOnlyWhenAsked)
{
    const std::string folder = Folder("allow-removal");
    const std::string replace = "app.txt=" + folder + "/new.txt";
    ASSERT_EQ(
        RunTool("--output " + folder + "/removable.msp --allow-removal --target " + kFirst + " --replace " + replace),
        0);
    std::string error;
    mkpatch::MsiDatabase database;
    ASSERT_TRUE(database.Open(Load(folder + "/removable.msp"), &error)) << error;
    mkpatch::Table table;
    ASSERT_TRUE(database.ReadTable("MsiPatchMetadata", table, &error)) << error;
    // The columns as Windows Installer documents the table: Company (Identifier, key,
    // nullable), Property (Identifier, key), Value (Text, never null).
    ASSERT_EQ(table.columns.size(), 3u);
    const std::pair<const char*, uint32_t> columns[] = {{"Company", 0x3D48}, {"Property", 0x2D48}, {"Value", 0x0F00}};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(table.columns[i].name, columns[i].first);
        EXPECT_EQ(table.columns[i].type, columns[i].second) << columns[i].first;
    }
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_TRUE(table.rows[0][0].isNull);
    EXPECT_EQ(table.rows[0][1].text, "AllowRemoval");
    EXPECT_EQ(table.rows[0][2].text, "1");

    // Beside a sequence: both tables read back from the one _Tables and _Columns.
    PatchOptions options = OnePatch(folder);
    options.allowRemoval = true;
    options.patchFamily = "Fixes", options.familySequence = "2.0";
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    ASSERT_TRUE(database.Open(Load(options.output), &error)) << error;
    ASSERT_TRUE(database.ReadTable("MsiPatchMetadata", table, &error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0][1].text, "AllowRemoval");
    ASSERT_TRUE(database.ReadTable("MsiPatchSequence", table, &error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0][0].text, "Fixes");
    EXPECT_EQ(table.rows[0][2].text, "2.0");

    // Without the option Windows Installer may not remove the patch: no such table, and a plain
    // patch's own database stays empty, as it always was.
    options.allowRemoval = false;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    ASSERT_TRUE(database.Open(Load(options.output), &error)) << error;
    EXPECT_FALSE(database.HasTable("MsiPatchMetadata"));
    EXPECT_TRUE(database.HasTable("MsiPatchSequence"));
    options.patchFamily.clear(), options.familySequence.clear();
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    EXPECT_FALSE(HasTable(reader, reader.Root(), "_Tables"));
    EXPECT_FALSE(HasTable(reader, reader.Root(), "_Columns"));
    compound::Bytes pool, data;
    ASSERT_TRUE(reader.ReadStream(*reader.Find(reader.Root(), compound::EncodeMsiStreamName("_StringPool", true)), pool,
                                  &error));
    ASSERT_TRUE(reader.ReadStream(*reader.Find(reader.Root(), compound::EncodeMsiStreamName("_StringData", true)), data,
                                  &error));
    EXPECT_EQ(pool, (compound::Bytes{0xE4, 0x04, 0x00, 0x00}));
    EXPECT_TRUE(data.empty());
}

TEST(MkpatchStructure, TargetsTwoProductsWithATransformPairEach)
{
    const std::string folder = Folder("two");
    PatchOptions options = OnePatch(folder);
    options.targets.push_back({kSecond, {{"notes.txt", folder + "/new.txt"}}});
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    EXPECT_EQ(Summary(reader, reader.Root(), compound::PID_TEMPLATE), std::string(kFirstCode) + ";" + kSecondCode);
    EXPECT_EQ(Summary(reader, reader.Root(), compound::PID_LASTAUTHOR), ":T1;:#T1;:T2;:#T2");
    const compound::Entry* second = reader.Find(reader.Root(), u"T2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Summary(reader, *second, compound::PID_TEMPLATE), "x64;1033");
    EXPECT_EQ(Summary(reader, *second, compound::PID_REVNUMBER).substr(0, 38), kSecondCode);
    ASSERT_NE(reader.Find(reader.Root(), u"#T2"), nullptr);
    EXPECT_TRUE(reader.CheckRedBlackTree(&error)) << error;
}

TEST(MkpatchStructure, AddsScheduleRebootAndProductVersionWhenAsked)
{
    const std::string folder = Folder("restart");
    PatchOptions options = OnePatch(folder);
    options.restart = true;
    options.productVersion = "1.0.1";
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Reader reader;
    ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
    const compound::Entry* first = reader.Find(reader.Root(), u"T1");
    ASSERT_NE(first, nullptr);
    compound::Bytes sequence, data;
    ASSERT_TRUE(reader.ReadStream(*reader.Find(*first, compound::EncodeMsiStreamName("InstallExecuteSequence", true)),
                                  sequence, &error));
    ASSERT_EQ(sequence.size(), 8u);  // mask, Action, Condition (NULL), Sequence (2 bytes)
    EXPECT_EQ(sequence[0] | (sequence[1] << 8), 0x0301);
    EXPECT_EQ(sequence[4] | (sequence[5] << 8), 0);
    EXPECT_EQ((sequence[6] | (sequence[7] << 8)) - 0x8000, 6590);
    ASSERT_TRUE(
        reader.ReadStream(*reader.Find(*first, compound::EncodeMsiStreamName("_StringData", true)), data, &error));
    const std::string strings(data.begin(), data.end());
    EXPECT_NE(strings.find("ScheduleReboot"), std::string::npos);
    EXPECT_NE(strings.find("ProductVersion1.0.1"), std::string::npos);
    EXPECT_EQ(Summary(reader, *first, compound::PID_REVNUMBER),
              std::string(kFirstCode) + "1.0.0;" + kFirstCode + "1.0.1;{7E55AAAA-0000-4000-8000-100000000001}");
    EXPECT_TRUE(HasTable(reader, *first, "Property"));
}

TEST(MkpatchStructure, ThePackerFindsTheRestartActionOfARestartPatchAndNoneInAPlainOne)
{
    const std::string folder = Folder("restart-found");
    for (bool restart : {true, false}) {
        SCOPED_TRACE(restart ? "--restart" : "plain");
        PatchOptions options = OnePatch(folder);
        options.targets.push_back({kSecond, {{"notes.txt", folder + "/new.txt"}}});
        options.restart = restart;
        std::string error;
        ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
        compound::Reader reader;
        ASSERT_TRUE(reader.Open(Load(options.output), &error)) << error;
        std::vector<pack::RestartAction> found;
        ASSERT_TRUE(pack::FindRestartActions(reader, found, error)) << error;
        std::vector<std::string> described;
        for (const pack::RestartAction& action : found)
            described.push_back(pack::DescribeRestartAction(action));
        if (restart)
            EXPECT_EQ(described, (std::vector<std::string>{"ScheduleReboot in InstallExecuteSequence (transform T1)",
                                                           "ScheduleReboot in InstallExecuteSequence (transform T2)"}));
        else
            EXPECT_TRUE(described.empty());
    }
}

TEST(MkpatchStructure, TruncatesTheCabinetOfABrokenPatch)
{
    const std::string folder = Folder("broken");
    PatchOptions options = OnePatch(folder);
    std::string error;
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    options.brokenCabinet = true;
    options.output = folder + "/broken.msp";
    ASSERT_TRUE(mkpatch::BuildPatch(options, &error)) << error;
    compound::Bytes good, broken;
    const std::pair<std::string, compound::Bytes*> files[] = {{folder + "/patch.msp", &good},
                                                              {folder + "/broken.msp", &broken}};
    for (const auto& f : files) {
        compound::Reader reader;
        ASSERT_TRUE(reader.Open(Load(f.first), &error)) << error;
        ASSERT_TRUE(reader.ReadStream(*reader.Find(reader.Root(), compound::EncodeMsiStreamName("PATCH_CAB", false)),
                                      *f.second, &error));
    }
    EXPECT_EQ(broken.size(), good.size() / 2);
    EXPECT_TRUE(std::equal(broken.begin(), broken.end(), good.begin()));
}

TEST(Md5, MatchesTheRfcExamples)
{
    auto hex = [](const std::string& text) {
        std::array<uint8_t, 16> d = mkpatch::Md5(std::vector<uint8_t>(text.begin(), text.end()));
        std::string out;
        char b[3];
        for (uint8_t x : d)
            snprintf(b, sizeof b, "%02x", x), out += b;
        return out;
    };
    EXPECT_EQ(hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

}  // namespace
