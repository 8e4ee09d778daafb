// Writes the fuzzer's seed inputs into the folder given as the only argument.
#include "CompoundFile.h"
#include "PayloadFormat.h"
#include "PropertySet.h"
#include "SignedFiles.h"
#include "TestFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

void Save(const std::filesystem::path& path, const packtest::Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pack_fuzz_seeds FOLDER\n");
        return 2;
    }
    std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    packtest::Bytes patch = packtest::MakePatch("{A1};{B2}", 5000);
    packtest::Bytes updater = packtest::MakeImage(0x400);
    packtest::Bytes header =
        pack::EncodePayloadHeader(u"Product", u"1.0", {{u"a.msp", uint32_t(patch.size())}, {u"b.txt", 2}});
    updater.insert(updater.end(), header.begin(), header.end());
    updater.insert(updater.end(), patch.begin(), patch.end());
    updater.insert(updater.end(), {'h', 'i'});

    std::vector<compound::Property> properties(1);
    properties[0].id = compound::PID_TEMPLATE, properties[0].type = compound::VT_LPSTR;
    properties[0].text = "{A1}";

    // Storages inside storages, so that the tree check starts with trees below the root.
    compound::Writer nested;
    uint32_t transform = nested.AddStorage(0, u"#T1");
    nested.AddStream(transform, u"inner", packtest::Bytes(100, 1));
    nested.AddStorage(transform, u"deeper");
    nested.AddStream(0, u"a", packtest::Bytes(5000, 2));

    // An updater carrying a patch whose transform adds ScheduleReboot, so that the fuzzer
    // starts from a string pool and a sequence table that the restart check reads.
    packtest::Bytes rows = packtest::TransformRow(0x0301, {{1, 2}, {0, 2}, {0x9000, 2}});
    packtest::Bytes restartPatch = packtest::MakePatch(
        "{A1}", {packtest::TestTransform{"T1", {"ScheduleReboot", "ForceReboot"}, "InstallExecuteSequence", rows}});
    packtest::Bytes restartUpdater = packtest::MakeImage(0x400);
    packtest::Bytes restartHeader =
        pack::EncodePayloadHeader(u"Product", u"1.0", {{u"reboot.msp", uint32_t(restartPatch.size())}});
    restartUpdater.insert(restartUpdater.end(), restartHeader.begin(), restartHeader.end());
    restartUpdater.insert(restartUpdater.end(), restartPatch.begin(), restartPatch.end());

    Save(folder / "patch.msp", patch);
    Save(folder / "restart-updater.exe", restartUpdater);
    Save(folder / "storages.cfb", nested.Write());
    Save(folder / "summary.bin", compound::WriteProperties(properties));
    Save(folder / "updater.exe", updater);
    packtest::Bytes signedUpdater = packtest::SignUpdater(updater);
    Save(folder / "signed.exe", signedUpdater);
    Save(folder / "signature.p7", packtest::MakeSignatureBlob(packtest::Bytes(20, 7), pack::DigestAlgorithm::Sha1));
    return 0;
}
