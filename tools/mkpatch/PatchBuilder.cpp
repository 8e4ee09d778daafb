// Building the patch. For each target product: the first transform (T<n>) updates File.FileSize,
// writes MsiFileHash rows, and optionally ProductVersion and ScheduleReboot; the second (#T<n>)
// defines and fills PatchPackage, adds the patch's Media row, marks the files PatchAdded with
// sequence numbers after the product's last and inserts the File rows of added files. All products share one cabinet, PATCH_CAB.
// The rows follow Windows Installer's documentation of the tables (File, Media, PatchPackage,
// MsiFileHash, MsiPatchSequence, MsiPatchMetadata) and of a patch's summary information:
// Template lists the target product codes, LastSavedBy the transforms as ":T1;:#T1", Revision
// Number begins with the patch code; a Media row's Cabinet "#PATCH_CAB" names a stream of the
// patch itself.
#include "PatchBuilder.h"

#include "CompoundFile.h"
#include "Md5.h"
#include "MsiDatabase.h"
#include "MsiStreamName.h"
#include "PropertySet.h"
#include "Transform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace mkpatch {

namespace fs = std::filesystem;

namespace {

const char* const kPatchClassId = "{000C1086-0000-0000-C000-000000000046}";
const char* const kTransformClassId = "{000C1082-0000-0000-C000-000000000046}";
const char* const kCabinetStream = "PATCH_CAB";
const char* const kMediaSourceProperty = "TessarvanePatchSource";
const int32_t kPatchAdded = 0x1000;
const int32_t kScheduleRebootSequence = 6590;
// PRODUCT | UPGRADECODE, and MAJORVERSION on the first transform only: the second is checked
// against the database the first has changed, whose ProductVersion may be new.
const int32_t kFirstValidation = 0x080A;
const int32_t kSecondValidation = 0x0802;

const std::vector<Column> kPatchPackageColumns = {{"PatchId", 0x2D26}, {"Media_", 0x0502}};
const std::vector<Column> kMsiFileHashColumns = {{"File_", 0x2D48},     {"Options", 0x0502},   {"HashPart1", 0x0104},
                                                 {"HashPart2", 0x0104}, {"HashPart3", 0x0104}, {"HashPart4", 0x0104}};

bool Fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

bool ReadFile(const std::string& path, compound::Bytes& out)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string NewGuid()
{
    std::random_device device;
    std::mt19937_64 random((uint64_t(device()) << 32) ^ device());
    uint8_t b[16];
    for (uint8_t& x : b)
        x = uint8_t(random());
    b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    char text[39];
    snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
             b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string ShellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The row's values in column order, from a map by column name; absent columns are NULL.
std::vector<Value> RowByName(const Table& table, const std::map<std::string, Value>& fields)
{
    std::vector<Value> row;
    for (const Column& c : table.columns) {
        auto found = fields.find(c.name);
        row.push_back(found == fields.end() ? Null() : found->second);
    }
    return row;
}

bool NeedColumns(const Table& table, const std::vector<std::string>& names, const std::string& product,
                 std::string* error)
{
    for (const std::string& name : names)
        if (table.ColumnIndex(name) < 0)
            return Fail(error, product + ": table " + table.name + " has no column " + name);
    return true;
}

std::string LongName(const std::string& fileName)
{
    size_t bar = fileName.find('|');
    return bar == std::string::npos ? fileName : fileName.substr(bar + 1);
}

// One product's part of the patch, gathered before anything is written.
struct TargetPlan {
    std::string productCode, productVersion, upgradeCode, templateText;
    uint32_t codepage = 1252;
    Table file, media, property, fileHash, sequence;
    bool hasFileHash = false, hasPatchPackage = false;
    struct Change {
        size_t fileRow;
        compound::Bytes content;
    };
    std::vector<Change> changes;
    struct Addition {
        std::string key, fileName, component;
        compound::Bytes content;
    };
    std::vector<Addition> additions;
};

// The File table's name of an added file: the long name alone when it is a valid short name
// too, otherwise a generated short name and the long one.
std::string AddedFileName(const std::string& longName, size_t number)
{
    size_t dot = longName.rfind('.');
    std::string base = longName.substr(0, dot), extension = dot == std::string::npos ? "" : longName.substr(dot + 1);
    bool shortAlready = !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
                        longName.find_first_of(" +,;=[]") == std::string::npos &&
                        std::count(longName.begin(), longName.end(), '.') <= 1;
    if (shortAlready)
        return longName;
    std::string shortName = "ADDED" + std::to_string(number);
    if (!extension.empty())
        shortName += "." + extension.substr(0, 3);
    return shortName + "|" + longName;
}

bool PlanTarget(const TargetSpec& target, bool restart, TargetPlan& plan, std::string* error)
{
    compound::Bytes bytes;
    if (!ReadFile(target.product, bytes))
        return Fail(error, "cannot read product '" + target.product + "'");
    MsiDatabase db;
    std::string reason;
    if (!db.Open(std::move(bytes), &reason))
        return Fail(error, target.product + ": " + reason);
    plan.templateText = db.Template();
    plan.codepage = db.Codepage() ? db.Codepage() : 1252;
    if (!db.ReadTable("File", plan.file, &reason) || !db.ReadTable("Media", plan.media, &reason) ||
        !db.ReadTable("Property", plan.property, &reason))
        return Fail(error, target.product + ": " + reason);
    if (!NeedColumns(plan.file, {"File", "FileName", "FileSize", "Attributes", "Sequence"}, target.product, error) ||
        !NeedColumns(plan.media, {"DiskId", "LastSequence", "Cabinet", "Source"}, target.product, error))
        return false;
    plan.hasFileHash = db.HasTable("MsiFileHash");
    if (plan.hasFileHash && !db.ReadTable("MsiFileHash", plan.fileHash, &reason))
        return Fail(error, target.product + ": " + reason);
    plan.hasPatchPackage = db.HasTable("PatchPackage");
    if (restart && !db.ReadTable("InstallExecuteSequence", plan.sequence, &reason))
        return Fail(error, target.product + ": " + reason);
    auto code = db.Property("ProductCode");
    auto version = db.Property("ProductVersion");
    auto upgrade = db.Property("UpgradeCode");
    if (!code || !version || !upgrade)
        return Fail(error, target.product + ": the package lacks ProductCode, ProductVersion or UpgradeCode");
    plan.productCode = *code, plan.productVersion = *version, plan.upgradeCode = *upgrade;

    const int nameColumn = plan.file.ColumnIndex("FileName");
    for (const Replacement& r : target.replacements) {
        size_t found = plan.file.rows.size();
        for (size_t i = 0; i < plan.file.rows.size(); i++)
            if (LongName(plan.file.rows[i][size_t(nameColumn)].text) == r.fileName)
                found = i;
        if (found == plan.file.rows.size())
            return Fail(error, target.product + ": the product has no file named '" + r.fileName + "'");
        for (const TargetPlan::Change& c : plan.changes)
            if (c.fileRow == found)
                return Fail(error, target.product + ": '" + r.fileName + "' is replaced twice");
        TargetPlan::Change change{found, {}};
        if (!ReadFile(r.newFile, change.content))
            return Fail(error, "cannot read replacement file '" + r.newFile + "'");
        plan.changes.push_back(std::move(change));
    }
    const int componentColumn = plan.file.ColumnIndex("Component_");
    for (const Replacement& a : target.additions) {
        if (componentColumn < 0 || plan.file.rows.empty())
            return Fail(error,
                        target.product + ": the product has no file whose component could hold '" + a.fileName + "'");
        for (const auto& row : plan.file.rows)
            if (LongName(row[size_t(nameColumn)].text) == a.fileName)
                return Fail(error, target.product + ": the product has a file named '" + a.fileName + "' already");
        TargetPlan::Addition addition;
        addition.key = "TvAdded" + std::to_string(plan.additions.size() + 1) + "_" + plan.productCode.substr(1, 8);
        addition.fileName = AddedFileName(a.fileName, plan.additions.size() + 1);
        addition.component = plan.file.rows[0][size_t(componentColumn)].text;
        if (!ReadFile(a.newFile, addition.content))
            return Fail(error, "cannot read added file '" + a.newFile + "'");
        plan.additions.push_back(std::move(addition));
    }
    return true;
}

std::vector<compound::Property> TransformSummary(const TargetPlan& plan, const std::string& fromVersion,
                                                 const std::string& toVersion, int32_t validation)
{
    std::vector<compound::Property> p(6);
    p[0].id = compound::PID_CODEPAGE, p[0].type = compound::VT_I2, p[0].integer = int32_t(plan.codepage);
    p[1].id = compound::PID_TEMPLATE, p[1].type = compound::VT_LPSTR, p[1].text = plan.templateText;
    p[2].id = compound::PID_LASTAUTHOR, p[2].type = compound::VT_LPSTR, p[2].text = plan.templateText;
    p[3].id = compound::PID_REVNUMBER, p[3].type = compound::VT_LPSTR;
    p[3].text = plan.productCode + fromVersion + ";" + plan.productCode + toVersion + ";" + plan.upgradeCode;
    p[4].id = compound::PID_PAGECOUNT, p[4].type = compound::VT_I4, p[4].integer = 200;
    p[5].id = compound::PID_CHARCOUNT, p[5].type = compound::VT_I4, p[5].integer = validation;
    return p;
}

void AddTransforms(const TargetPlan& plan, const PatchOptions& options, const std::string& patchCode, int number,
                   const std::map<std::string, uint32_t>& sequenceOf, compound::Writer& writer)
{
    const compound::ClassId transformClass = compound::ParseClassId(kTransformClassId);
    const std::string newVersion = options.productVersion.empty() ? plan.productVersion : options.productVersion;
    const size_t keyColumn = size_t(plan.file.ColumnIndex("File"));
    const size_t sizeColumn = size_t(plan.file.ColumnIndex("FileSize"));
    const size_t attributesColumn = size_t(plan.file.ColumnIndex("Attributes"));
    const size_t sequenceColumn = size_t(plan.file.ColumnIndex("Sequence"));

    // The first transform: what the files are now.
    Transform first(plan.codepage);
    const std::vector<Column>& hashColumns = plan.hasFileHash ? plan.fileHash.columns : kMsiFileHashColumns;
    if (!plan.hasFileHash)
        first.DefineTable("MsiFileHash", hashColumns);
    auto addHash = [&first, &hashColumns](const std::string& key, const compound::Bytes& content) {
        std::array<uint8_t, 16> md5 = Md5(content);
        std::vector<Value> hash = {Text(key), Integer(0)};
        for (int part = 0; part < 4; part++) {
            const uint8_t* b = &md5[size_t(part) * 4];
            hash.push_back(Integer(
                int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24))));
        }
        first.AddRow("MsiFileHash", hashColumns, hash);
    };
    for (const TargetPlan::Change& c : plan.changes) {
        std::vector<Value> row = plan.file.rows[c.fileRow];
        row[sizeColumn] = Integer(int32_t(c.content.size()));
        first.UpdateRow("File", plan.file.columns, row, {"FileSize"});
        addHash(row[keyColumn].text, c.content);
    }
    for (const TargetPlan::Addition& a : plan.additions)
        addHash(a.key, a.content);
    if (!options.productVersion.empty()) {
        first.UpdateRow("Property", plan.property.columns,
                        RowByName(plan.property, {{"Property", Text("ProductVersion")}, {"Value", Text(newVersion)}}),
                        {"Value"});
    }
    if (options.restart) {
        first.AddRow("InstallExecuteSequence", plan.sequence.columns,
                     RowByName(plan.sequence,
                               {{"Action", Text("ScheduleReboot")}, {"Sequence", Integer(kScheduleRebootSequence)}}));
    }

    // The second transform: where the files come from.
    Transform second(plan.codepage);
    int32_t lastSequence = 0, lastDisk = 0;
    for (const auto& row : plan.file.rows)
        lastSequence = std::max(lastSequence, row[sequenceColumn].integer);
    const size_t diskColumn = size_t(plan.media.ColumnIndex("DiskId"));
    const size_t mediaLastColumn = size_t(plan.media.ColumnIndex("LastSequence"));
    for (const auto& row : plan.media.rows) {
        lastDisk = std::max(lastDisk, row[diskColumn].integer);
        lastSequence = std::max(lastSequence, row[mediaLastColumn].integer);
    }
    const int32_t disk = lastDisk + 1;
    if (!plan.hasPatchPackage)
        second.DefineTable("PatchPackage", kPatchPackageColumns);
    second.AddRow("PatchPackage", kPatchPackageColumns, {Text(patchCode), Integer(disk)});
    int32_t mediaLast = lastSequence;
    for (const TargetPlan::Change& c : plan.changes) {
        std::vector<Value> row = plan.file.rows[c.fileRow];
        const Value& old = row[attributesColumn];
        row[attributesColumn] = Integer((old.isNull ? 0 : old.integer) | kPatchAdded);
        row[sequenceColumn] = Integer(lastSequence + int32_t(sequenceOf.at(row[keyColumn].text)));
        mediaLast = std::max(mediaLast, row[sequenceColumn].integer);
        second.UpdateRow("File", plan.file.columns, row, {"Attributes", "Sequence"});
    }
    for (const TargetPlan::Addition& a : plan.additions) {
        int32_t sequence = lastSequence + int32_t(sequenceOf.at(a.key));
        mediaLast = std::max(mediaLast, sequence);
        second.AddRow("File", plan.file.columns,
                      RowByName(plan.file, {{"File", Text(a.key)},
                                            {"Component_", Text(a.component)},
                                            {"FileName", Text(a.fileName)},
                                            {"FileSize", Integer(int32_t(a.content.size()))},
                                            {"Attributes", Integer(kPatchAdded)},
                                            {"Sequence", Integer(sequence)}}));
    }
    second.AddRow("Media", plan.media.columns,
                  RowByName(plan.media, {{"DiskId", Integer(disk)},
                                         {"LastSequence", Integer(mediaLast)},
                                         {"Cabinet", Text(std::string("#") + kCabinetStream)},
                                         {"Source", Text(kMediaSourceProperty)}}));

    const std::string name = "T" + std::to_string(number);
    uint32_t storage = writer.AddStorage(0, std::u16string(name.begin(), name.end()), transformClass);
    writer.AddStream(
        storage, u"\x0005SummaryInformation",
        compound::WriteProperties(TransformSummary(plan, plan.productVersion, newVersion, kFirstValidation)));
    first.WriteTo(writer, storage);
    const std::string secondName = "#" + name;
    storage = writer.AddStorage(0, std::u16string(secondName.begin(), secondName.end()), transformClass);
    writer.AddStream(storage, u"\x0005SummaryInformation",
                     compound::WriteProperties(TransformSummary(plan, newVersion, newVersion, kSecondValidation)));
    second.WriteTo(writer, storage);
}

void PutLE(compound::Bytes& b, uint32_t v, uint32_t width)
{
    for (uint32_t i = 0; i < width; i++)
        b.push_back(uint8_t(v >> (8 * i)));
}

// The patch's own database: empty but for its string pool, or with the tables asked for.
// MsiPatchMetadata's row {Null, AllowRemoval, 1} lets Windows Installer remove the patch
// again; MsiPatchSequence names the patch's family and its sequence in it. The metadata
// table comes first so that _Tables and _Columns are in key order by string id and by name
// alike. A database stores its tables column by column.
void AddRootDatabase(const PatchOptions& options, compound::Writer& writer)
{
    struct OwnTable {
        const char* name;
        std::vector<Column> columns;
        std::vector<std::vector<Value>> rows;
    };
    std::vector<OwnTable> own;
    if (options.allowRemoval)
        own.push_back({"MsiPatchMetadata",
                       {{"Company", 0x3D48}, {"Property", 0x2D48}, {"Value", 0x0F00}},
                       {{Null(), Text("AllowRemoval"), Text("1")}}});
    if (!options.patchFamily.empty())
        // One row for every target: family, no product code, sequence, and the attribute
        // msidbPatchSequenceSupersedeEarlier (1) or none.
        own.push_back({"MsiPatchSequence",
                       {{"PatchFamily", 0x2D48}, {"ProductCode", 0x3D26}, {"Sequence", 0x0D48}, {"Attributes", 0x1104}},
                       {{Text(options.patchFamily), Null(), Text(options.familySequence),
                         options.supersedeEarlier ? Integer(1) : Null()}}});

    std::vector<std::string> strings;
    std::vector<uint32_t> refs;
    auto id = [&strings, &refs](const std::string& text) {
        for (size_t i = 0; i < strings.size(); i++) {
            if (strings[i] == text) {
                ++refs[i];
                return uint32_t(i + 1);
            }
        }
        strings.push_back(text);
        refs.push_back(1);
        return uint32_t(strings.size());
    };
    auto put = [&id](compound::Bytes& b, const Column& column, const Value& value) {
        if (column.IsString())
            PutLE(b, value.isNull ? 0 : id(value.text), 2);
        else if (column.IntegerWidth() == 2)
            PutLE(b, value.isNull ? 0 : uint32_t(value.integer + 0x8000) & 0xFFFF, 2);
        else
            PutLE(b, value.isNull ? 0 : uint32_t(value.integer) ^ 0x80000000u, 4);
    };
    if (!own.empty()) {
        compound::Bytes tables, columnRows;
        for (const OwnTable& t : own)
            PutLE(tables, id(t.name), 2);
        // _Columns (Table, Number, Name, Type), one row per column of every table.
        for (const OwnTable& t : own)
            for (size_t i = 0; i < t.columns.size(); i++)
                PutLE(columnRows, id(t.name), 2);
        for (const OwnTable& t : own)
            for (size_t i = 0; i < t.columns.size(); i++)
                PutLE(columnRows, uint32_t(0x8000 + i + 1), 2);
        for (const OwnTable& t : own)
            for (const Column& c : t.columns)
                PutLE(columnRows, id(c.name), 2);
        for (const OwnTable& t : own)
            for (const Column& c : t.columns)
                PutLE(columnRows, 0x8000 + c.type, 2);
        writer.AddStream(0, compound::EncodeMsiStreamName("_Tables", true), tables);
        writer.AddStream(0, compound::EncodeMsiStreamName("_Columns", true), columnRows);
        for (const OwnTable& t : own) {
            compound::Bytes data;
            for (size_t c = 0; c < t.columns.size(); c++)
                for (const std::vector<Value>& row : t.rows)
                    put(data, t.columns[c], row[c]);
            writer.AddStream(0, compound::EncodeMsiStreamName(t.name, true), data);
        }
    }
    compound::Bytes pool = {0xE4, 0x04, 0x00, 0x00}, data;
    for (size_t i = 0; i < strings.size(); i++) {
        PutLE(pool, uint32_t(strings[i].size()), 2);
        PutLE(pool, refs[i], 2);
        data.insert(data.end(), strings[i].begin(), strings[i].end());
    }
    writer.AddStream(0, compound::EncodeMsiStreamName("_StringPool", true), pool);
    writer.AddStream(0, compound::EncodeMsiStreamName("_StringData", true), data);
}

// Runs gcab on the files named by their File keys, in the order of their sequence numbers.
bool MakeCabinet(const std::vector<std::pair<std::string, const compound::Bytes*>>& files, compound::Bytes& cabinet,
                 std::string* error)
{
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec) / ("tessarvane-mkpatch-" + NewGuid());
    if (ec || !fs::create_directories(folder, ec))
        return Fail(error, "cannot create a temporary folder");
    std::string command = "gcab -c -n " + ShellQuote((folder / "patch.cab").string());
    bool written = true;
    for (const auto& f : files) {
        std::ofstream out(folder / f.first, std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.second->data()), std::streamsize(f.second->size()));
        written = written && bool(out);
        command += " " + ShellQuote((folder / f.first).string());
    }
    int rc = written ? std::system((command + " >/dev/null 2>&1").c_str()) : -1;
    bool ok = written && rc == 0 && ReadFile((folder / "patch.cab").string(), cabinet) && !cabinet.empty();
    fs::remove_all(folder, ec);
    return ok ? true : Fail(error, "gcab could not make the cabinet");
}

}  // namespace

bool BuildPatch(const PatchOptions& options, std::string* error)
{
    std::vector<TargetPlan> plans(options.targets.size());
    for (size_t i = 0; i < options.targets.size(); i++)
        if (!PlanTarget(options.targets[i], options.restart, plans[i], error))
            return false;

    // The shared cabinet holds each File key once; the same key in two products must then
    // have the same new content.
    std::vector<std::pair<std::string, const compound::Bytes*>> cabinetFiles;
    std::map<std::string, uint32_t> sequenceOf;  // File key -> position in the cabinet, from 1
    for (const TargetPlan& plan : plans) {
        const size_t keyColumn = size_t(plan.file.ColumnIndex("File"));
        for (const TargetPlan::Change& c : plan.changes) {
            const std::string& key = plan.file.rows[c.fileRow][keyColumn].text;
            auto found = sequenceOf.find(key);
            if (found != sequenceOf.end()) {
                if (*cabinetFiles[found->second - 1].second != c.content)
                    return Fail(error, "file key '" + key + "' is in two products with different new content");
                continue;
            }
            cabinetFiles.push_back({key, &c.content});
            sequenceOf[key] = uint32_t(cabinetFiles.size());
        }
        for (const TargetPlan::Addition& a : plan.additions) {
            cabinetFiles.push_back({a.key, &a.content});
            sequenceOf[a.key] = uint32_t(cabinetFiles.size());
        }
    }
    compound::Bytes cabinet;
    if (!MakeCabinet(cabinetFiles, cabinet, error))
        return false;
    if (options.brokenCabinet)
        cabinet.resize(cabinet.size() / 2);

    const std::string patchCode = NewGuid();
    compound::Writer writer(compound::ParseClassId(kPatchClassId));
    std::string targets, transforms;
    for (size_t i = 0; i < plans.size(); i++) {
        targets += (i ? ";" : "") + plans[i].productCode;
        const std::string n = std::to_string(i + 1);
        transforms += (i ? ";:T" : ":T") + n + ";:#T" + n;
        AddTransforms(plans[i], options, patchCode, int(i + 1), sequenceOf, writer);
    }
    std::vector<compound::Property> summary(12);
    const std::pair<uint32_t, std::string> texts[] = {
        {compound::PID_TITLE, "Patch"},
        {compound::PID_SUBJECT, "Tessarvane test patch"},
        {compound::PID_AUTHOR, "Tessarvane"},
        {compound::PID_KEYWORDS, "Installer,Patching,PCP,Database"},
        {compound::PID_COMMENTS, "This patch replaces installed files."},
        {compound::PID_TEMPLATE, targets},
        {compound::PID_LASTAUTHOR, transforms},
        {compound::PID_REVNUMBER, patchCode},
        {compound::PID_APPNAME, "tessarvane-mkpatch"},
    };
    summary[0].id = compound::PID_CODEPAGE, summary[0].type = compound::VT_I2, summary[0].integer = 1252;
    for (size_t i = 0; i < 9; i++)
        summary[i + 1].id = texts[i].first, summary[i + 1].type = compound::VT_LPSTR,
                    summary[i + 1].text = texts[i].second;
    summary[10].id = compound::PID_WORDCOUNT, summary[10].type = compound::VT_I4, summary[10].integer = 2;
    summary[11].id = compound::PID_SECURITY, summary[11].type = compound::VT_I4, summary[11].integer = 2;
    writer.AddStream(0, u"\x0005SummaryInformation", compound::WriteProperties(summary));
    AddRootDatabase(options, writer);
    writer.AddStream(0, compound::EncodeMsiStreamName(kCabinetStream, false), cabinet);

    // Written beside the output and renamed, so a failure leaves no partial patch.
    compound::Bytes bytes = writer.Write();
    const fs::path output(options.output);
    const fs::path temporary = output.string() + ".tmp-" + NewGuid().substr(1, 8);
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            return Fail(error, "cannot write '" + temporary.string() + "'");
        }
    }
    fs::rename(temporary, output, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return Fail(error, "cannot write '" + options.output + "'");
    }
    return true;
}

}  // namespace mkpatch
