// Writes the seed inputs of the updater's payload fuzzer into the folder given as the only
// argument: the payloads of updaters that the packer builds (one file, several, empty and
// longest texts, long and non-ASCII names, an empty file, a file longer than one copy buffer,
// a signed updater, PE32 and PE32+ stubs), each cut at its payload offset as the fuzzer takes
// it, and a few payloads the packer would refuse, whose second entry's name tests one rule of
// the updater's name check.
#include "Builder.h"
#include "PayloadFormat.h"
#include "PeImage.h"
#include "SignedFiles.h"
#include "TestFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using packtest::Bytes;

struct Carried {
    std::string name;  // UTF-8, as the packer takes it from the file system
    Bytes data;
};

void Save(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The bytes from the updater's payload offset on.
Bytes PayloadOf(const Bytes& updater)
{
    pack::PeInfo pe;
    std::string error;
    if (!pack::ParsePeHeaders(updater.data(), updater.size(), pe, error))
        throw std::runtime_error("a seed's image does not parse: " + error);
    return Bytes(updater.begin() + pe.payloadOffset, updater.end());
}

// An updater built by the packer from the stub and the files, as `tessarvane-pack build` does.
Bytes BuildWithPacker(const Bytes& stub, const std::string& name, const std::string& version,
                      const std::vector<Carried>& files)
{
    packtest::ScratchFolder scratch;
    pack::BuildRequest request;
    request.stub = scratch.Write("stub.exe", stub);
    request.name = name;
    request.version = version;
    request.output = scratch / "updater.exe";
    request.allowAnyFile = true;
    for (const Carried& file : files)
        request.files.push_back(scratch.Write(file.name, file.data));
    std::vector<std::string> warnings;
    std::string error;
    if (!pack::BuildUpdater(request, warnings, error))
        throw std::runtime_error("the packer refused a seed: " + error);
    return packtest::ReadAll(request.output);
}

// A payload with "a.msp" first and then name, each carrying a few bytes.
Bytes PayloadWithSecondName(const std::u16string& name)
{
    Bytes payload = pack::EncodePayloadHeader(u"Product", u"1.0", {{u"a.msp", 3}, {name, 4}});
    for (uint8_t byte : {'a', 'a', 'a', 'b', 'b', 'b', 'b'})
        payload.push_back(byte);
    return payload;
}

void WriteSeeds(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);

    Bytes pe32 = packtest::MakeImage(0x400);
    Bytes pe32Plus = packtest::MakeImage64({{0x200, 0x200}, {0x400, 0x200}});
    Bytes patch = packtest::MakePatch("{A1}", 600);
    Bytes small = packtest::MakePatch("{B2};{C3}");

    Bytes one = BuildWithPacker(pe32, "Product", "1.0", {{"a.msp", patch}});
    Save(folder / "one-file", PayloadOf(one));
    Save(folder / "signed", PayloadOf(packtest::SignUpdater(one)));
    Save(folder / "several-pe32plus",
         PayloadOf(BuildWithPacker(pe32Plus, "Sample Suite", "12.4.1",
                                   {{"first.msp", patch}, {"Second Update.msp", small}, {"third.msp", small}})));
    Save(folder / "empty-texts", PayloadOf(BuildWithPacker(pe32, "", "", {{"a.msp", small}})));
    Save(folder / "no-files", PayloadOf(BuildWithPacker(pe32, "Product", "1.0", {})));
    Save(folder / "empty-file",
         PayloadOf(BuildWithPacker(pe32, "Product", "1.0", {{"notes.txt", {}}, {"b.msp", small}})));
    Save(folder / "longest-pe32plus", PayloadOf(BuildWithPacker(pe32Plus, std::string(127, 'N'), std::string(127, 'V'),
                                                                {{std::string(251, 'n') + ".msp", small}})));
    Save(folder / "non-ascii",
         PayloadOf(BuildWithPacker(pe32, "Überarbeitung", "2.0 β",
                                   {{"Überarbeitung \xE2\x9C\x93 \xF0\x9F\x98\x80.msp", small}})));
    // Just over the updater's 32 KiB copy buffer, so that one file takes two copies.
    Bytes large(0x8000 + 17);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i * 7);
    Save(folder / "two-copy-buffers", PayloadOf(BuildWithPacker(pe32, "Product", "1.0", {{"large.bin", large}})));

    // Names the packer refuses, so the fuzzer starts at each rule of the updater's check.
    const std::vector<std::pair<const char*, std::u16string>> refused = {
        {"name-longest", std::u16string(255, u'n') + u".msp"},
        {"name-device", u"com\u00B9.log"},
        {"name-trailing-dot", u"a.msp."},
        {"name-dot-dot", u".."},
        {"name-separator", u"..\\b.msp"},
        {"name-stream", u"b.msp:hidden"},
        {"name-wildcard", u"b*.msp"},
        {"name-same-file", u"A.MSP"},
        {"name-empty", u""},
        {"name-unterminated", std::u16string(260, u'u')},
    };
    for (const auto& [file, name] : refused)
        Save(folder / file, PayloadWithSecondName(name));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: updater_fuzz_seeds FOLDER\n");
        return 2;
    }
    try {
        WriteSeeds(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updater_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
