// Test inputs for the packer. The image is as small as a loader-valid PE32 file can be made
// easily: DOS header, NT headers at 0x40, the section table, sections of zero bytes.
#include "TestFiles.h"

#include "CompoundFile.h"
#include "MsiStreamName.h"
#include "PropertySet.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace packtest {

namespace {

void Put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

void PutU32At(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

namespace {

// Lays out a PE32 or PE32+ image. The two differ in the section table's distance behind the
// NT headers, the machine, the image base, and the stack and heap sizes, which are 32-bit
// fields in PE32 and 64-bit ones (only their low halves are set here) in PE32+.
Bytes LayOutImage(const std::vector<Section>& sections, uint16_t magic, uint16_t optionalSize, bool x64)
{
    const size_t nt = 0x40;
    // The file ends where the updater's rule says the payload begins.
    uint32_t end = 0x200;
    size_t best = 0;
    for (size_t i = 0; i < sections.size(); ++i)
        if (sections[i].pointer > sections[best].pointer)
            best = i;
    if (!sections.empty())
        end = sections[best].pointer + sections[best].size;

    size_t table = nt + (x64 ? 264 : 248);
    Bytes b(std::max<size_t>(end, table + 40 * sections.size()), 0);
    b[0] = 'M', b[1] = 'Z';
    PutU32At(b, 0x3C, nt);
    b[nt] = 'P', b[nt + 1] = 'E';
    Put16(b, nt + 4, x64 ? 0x8664 : 0x14C);  // x64 or i386
    Put16(b, nt + 6, static_cast<uint16_t>(sections.size()));
    Put16(b, nt + 20, optionalSize);
    Put16(b, nt + 22, x64 ? 0x0022 : 0x0102);  // executable, large addresses or 32-bit
    size_t opt = nt + 24;
    Put16(b, opt, magic);
    PutU32At(b, opt + 16, 0x1000);  // entry point
    if (x64)
        PutU32At(b, opt + 24, 0x40000000);  // image base (low half)
    else
        PutU32At(b, opt + 28, 0x400000);  // image base
    PutU32At(b, opt + 32, 0x1000);        // section alignment
    PutU32At(b, opt + 36, 0x200);         // file alignment
    Put16(b, opt + 40, x64 ? 6 : 4);      // OS version
    Put16(b, opt + 48, x64 ? 6 : 4);      // subsystem version
    PutU32At(b, opt + 56, 0x1000 * (1 + static_cast<uint32_t>(sections.size())));
    PutU32At(b, opt + 60, 0x200);  // size of headers
    Put16(b, opt + 68, 2);         // GUI
    const size_t sizeField = x64 ? 8 : 4;
    PutU32At(b, opt + 72, 0x100000);                  // stack reserve
    PutU32At(b, opt + 72 + sizeField, 0x1000);        // stack commit
    PutU32At(b, opt + 72 + 2 * sizeField, 0x100000);  // heap reserve
    PutU32At(b, opt + 72 + 3 * sizeField, 0x1000);    // heap commit
    PutU32At(b, opt + 72 + 4 * sizeField + 4, 16);    // data directories, behind the loader flags
    for (size_t i = 0; i < sections.size(); ++i) {
        size_t h = table + 40 * i;
        b[h] = '.', b[h + 1] = 's', b[h + 2] = static_cast<uint8_t>('0' + i % 10);
        PutU32At(b, h + 8, sections[i].size);  // virtual size
        PutU32At(b, h + 12, 0x1000 * static_cast<uint32_t>(i + 1));
        PutU32At(b, h + 16, sections[i].size);
        PutU32At(b, h + 20, sections[i].pointer);
        PutU32At(b, h + 36, 0x60000020);  // code, read, execute
    }
    return b;
}

}  // namespace

Bytes MakeImage(const std::vector<Section>& sections, uint16_t magic, uint16_t optionalSize)
{
    return LayOutImage(sections, magic, optionalSize, false);
}

Bytes MakeImage64(const std::vector<Section>& sections)
{
    return LayOutImage(sections, 0x20B, 240, true);
}

Bytes MakeImage(uint32_t payloadOffset)
{
    return MakeImage({{0x200, 0x200}, {0x400, payloadOffset - 0x400}});
}

namespace {

void AddSummary(compound::Writer& writer, const std::string& targets, const std::string& revisionNumber)
{
    std::vector<compound::Property> properties(2);
    properties[0].id = compound::PID_CODEPAGE, properties[0].type = compound::VT_I2;
    properties[0].integer = 1252;
    properties[1].id = compound::PID_TEMPLATE, properties[1].type = compound::VT_LPSTR;
    properties[1].text = targets;
    if (!revisionNumber.empty()) {
        compound::Property revision;
        revision.id = compound::PID_REVNUMBER, revision.type = compound::VT_LPSTR;
        revision.text = revisionNumber;
        properties.push_back(revision);
    }
    writer.AddStream(0, u"\x0005SummaryInformation", compound::WriteProperties(properties));
}

void PutLittle(Bytes& bytes, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

Bytes MakePatch(const std::string& targets, size_t filler, const std::string& revisionNumber)
{
    compound::Writer writer(compound::ParseClassId("{000C1086-0000-0000-C000-000000000046}"));
    AddSummary(writer, targets, revisionNumber);
    if (filler)
        writer.AddStream(0, u"PATCH_CAB", Bytes(filler, 0x5A));
    return writer.Write();
}

Bytes MakePatch(const std::string& targets, const std::vector<TestTransform>& transforms)
{
    compound::Writer writer(compound::ParseClassId("{000C1086-0000-0000-C000-000000000046}"));
    AddSummary(writer, targets, "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}");
    for (const TestTransform& transform : transforms) {
        uint32_t storage = writer.AddStorage(0, std::u16string(transform.name.begin(), transform.name.end()));
        Bytes pool, data;
        PutLittle(pool, 1252, 2);
        PutLittle(pool, transform.longReferences ? 0x8000 : 0, 2);
        for (const std::string& text : transform.strings) {
            PutLittle(pool, uint32_t(text.size()), 2);
            PutLittle(pool, 1, 2);
            data.insert(data.end(), text.begin(), text.end());
        }
        writer.AddStream(storage, compound::EncodeMsiStreamName("_StringPool", true), pool);
        writer.AddStream(storage, compound::EncodeMsiStreamName("_StringData", true), data);
        writer.AddStream(storage, compound::EncodeMsiStreamName(transform.table, true), transform.rows);
    }
    return writer.Write();
}

Bytes TransformRow(uint16_t mask, const std::vector<std::pair<uint32_t, size_t>>& fields)
{
    Bytes row;
    PutLittle(row, mask, 2);
    for (const auto& field : fields)
        PutLittle(row, field.first, field.second);
    return row;
}

ScratchFolder::ScratchFolder()
{
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("tessarvane-pack-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const Bytes& bytes) const
{
    std::filesystem::path path = path_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

std::vector<std::string> ScratchFolder::Names() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace packtest
