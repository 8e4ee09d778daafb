// Feeds one input to every parser that inspect runs on untrusted files: the whole inspect
// path (PE headers, payload, each entry's compound file, property set and transforms' sequence
// tables), and the payload, compound-file reader (every stream and the red-black check), the
// restart-action reader and the property-set reader directly, so that each is reached without
// the others' signatures; and verify's path (the certificate table, the DER reading of the
// signature, the image digest), with the signature reader also fed the input directly. Any
// crash, sanitizer report or hang is a bug.
#include "Authenticode.h"
#include "CompoundFile.h"
#include "Examiner.h"
#include "PatchTargets.h"
#include "PayloadFormat.h"
#include "PropertySet.h"
#include "ReportFormat.h"
#include "RestartActions.h"
#include "Verifier.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pack::InputFile input(data, size);
    pack::UpdaterReport report;
    std::string error;
    if (pack::InspectUpdater(input, report, error)) {
        pack::FormatReportText("fuzz.exe", report);
        pack::FormatReportJson("fuzz.exe", report);
    }

    pack::VerifyReport verified;
    if (pack::VerifyUpdater(input, true, verified, error)) {
        pack::FormatVerifyText("fuzz.exe", verified);
        pack::FormatVerifyJson("fuzz.exe", verified);
    }
    pack::SignedDigest signedDigest;
    pack::ReadSignedDigest(data, size, signedDigest, error);

    pack::PayloadLayout layout;
    pack::ReadPayload(input, 0, layout, error);

    std::vector<std::string> targets;
    pack::ReadPatchTargets(input, 0, size, targets, error);

    // The compound-file reader as the patch builder uses it: every stream and the tree check.
    pack::Bytes bytes(data, data + size);
    compound::Reader reader;
    if (reader.Open(bytes, &error)) {
        reader.CheckRedBlackTree(&error);
        std::vector<pack::RestartAction> actions;
        pack::FindRestartActions(reader, actions, error);
        std::vector<const compound::Entry*> entries = {&reader.Root()};
        for (size_t i = 0; i < entries.size() && i < 256; i++) {
            compound::Bytes stream;
            if (entries[i]->type == compound::EntryType::Stream)
                reader.ReadStream(*entries[i], stream, &error);
            for (const compound::Entry* child : reader.Children(*entries[i]))
                entries.push_back(child);
        }
    }

    std::vector<compound::Property> properties;
    compound::ReadProperties(bytes, properties, &error);
    return 0;
}
