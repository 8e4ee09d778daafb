// tessarvane-pack: makes an updater from the updater stub and Windows Installer patches, shows
// what an updater carries, verifies a packed and signed one, and writes the rules that detect
// its patches once installed. Exit codes: 0 done (verify: every check passed), 1 an input
// failed a check (one line on standard error, nothing written), 2 a usage error.
#include "CommandLine.h"
#include "Detection.h"
#include "Examiner.h"
#include "ReportFormat.h"
#include "TessarvaneVersion.h"
#include "Utf.h"
#include "Verifier.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Exit code 1 both when the file cannot be read as an updater and when a check fails.
int RunVerify(const pack::CommandLine& line)
{
    pack::InputFile input;
    pack::VerifyReport report;
    std::string error;
    if (!input.Open(std::filesystem::u8path(line.inspectPath), error) ||
        !pack::VerifyUpdater(input, line.requireSignature, report, error)) {
        std::fprintf(stderr, "tessarvane-pack: %s: %s\n", line.inspectPath.c_str(), error.c_str());
        return 1;
    }
    std::string text =
        line.json ? pack::FormatVerifyJson(line.inspectPath, report) : pack::FormatVerifyText(line.inspectPath, report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return report.ok ? 0 : 1;
}

int RunDetection(const pack::CommandLine& line)
{
    pack::InputFile input;
    pack::UpdaterReport report;
    pack::Detection detection;
    std::string error;
    if (!input.Open(std::filesystem::u8path(line.inspectPath), error) || !pack::InspectUpdater(input, report, error) ||
        !pack::DescribeDetection(report, detection, error)) {
        std::fprintf(stderr, "tessarvane-pack: %s: %s\n", line.inspectPath.c_str(), error.c_str());
        return 1;
    }
    std::string text = line.json ? pack::FormatDetectionJson(line.inspectPath, detection)
                                 : pack::FormatDetectionText(line.inspectPath, detection);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int Run(const std::vector<std::string>& args)
{
    pack::CommandLine line;
    std::string error;
    if (!pack::ParseCommandLine(args, line, error)) {
        std::fprintf(stderr, "tessarvane-pack: %s\n%s", error.c_str(), pack::kUsage);
        return 2;
    }
    if (line.command == pack::Command::Help) {
        std::fputs(pack::kUsage, stdout);
        return 0;
    }
    if (line.command == pack::Command::Version) {
        std::printf("tessarvane-pack %s\n", TESSARVANE_VERSION_TEXT);
        return 0;
    }
    if (line.command == pack::Command::Build) {
        std::vector<std::string> warnings;
        bool built = pack::BuildUpdater(line.build, warnings, error);
        for (const std::string& warning : warnings)
            std::fprintf(stderr, "tessarvane-pack: %s\n", warning.c_str());
        if (!built) {
            std::fprintf(stderr, "tessarvane-pack: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (line.command == pack::Command::Verify)
        return RunVerify(line);
    if (line.command == pack::Command::Detection)
        return RunDetection(line);
    pack::InputFile input;
    pack::UpdaterReport report;
    if (!input.Open(std::filesystem::u8path(line.inspectPath), error) || !pack::InspectUpdater(input, report, error)) {
        std::fprintf(stderr, "tessarvane-pack: %s: %s\n", line.inspectPath.c_str(), error.c_str());
        return 1;
    }
    std::string text =
        line.json ? pack::FormatReportJson(line.inspectPath, report) : pack::FormatReportText(line.inspectPath, report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int RunCaught(const std::vector<std::string>& args)
{
    try {
        return Run(args);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tessarvane-pack: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessarvane-pack: %s\n", e.what());
    }
    return 1;
}

}  // namespace

#ifdef _WIN32
// Windows hands main() its arguments in the ANSI code page; the wide ones keep every name.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::u16string wide;
        for (const wchar_t* p = argv[i]; *p; ++p)
            wide.push_back(static_cast<char16_t>(*p));
        args.push_back(pack::Utf16ToUtf8(wide));
    }
    return RunCaught(args);
}
#else
int main(int argc, char** argv)
{
    return RunCaught(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
