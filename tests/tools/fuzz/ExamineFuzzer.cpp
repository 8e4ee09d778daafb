// Feeds one input to every parser that inspect runs on untrusted files: the whole inspect
// path (PE headers, payload, each entry's compound file and property set), and the payload,
// compound-file and property-set readers directly, so that each is reached without the
// others' signatures. Any crash, sanitizer report or hang is a bug.
#include "Examiner.h"
#include "PatchTargets.h"
#include "PayloadFormat.h"
#include "PropertySet.h"
#include "ReportFormat.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pack::InputFile input(data, size);
    pack::UpdaterReport report;
    std::string error;
    if (pack::InspectUpdater(input, report, error)) {
        pack::FormatReportText("fuzz.exe", report);
        pack::FormatReportJson("fuzz.exe", report);
    }

    pack::PayloadLayout layout;
    pack::ReadPayload(input, 0, layout, error);

    pack::Bytes bytes(data, data + size);
    std::vector<std::string> targets;
    pack::ReadPatchTargets(bytes, targets, error);

    std::vector<compound::Property> properties;
    compound::ReadProperties(bytes, properties, &error);
    return 0;
}
