// Options take their value as the next argument or after "="; "--" ends the options, so that
// a patch whose name begins with "--" can still be packed.
#include "CommandLine.h"

namespace pack {

const char kUsage[] =
    "usage: tessarvane-pack build --stub UPDATER.exe --name NAME --version VERSION\n"
    "                             --output OUT.exe [--allow-any-file] [--strict] [PATCH.msp...]\n"
    "       tessarvane-pack inspect UPDATER.exe [--json]\n"
    "       tessarvane-pack verify UPDATER.exe [--require-signature] [--json]\n"
    "       tessarvane-pack detection UPDATER.exe [--json]\n"
    "       tessarvane-pack --help | --version\n"
    "\n"
    "build    writes OUT.exe: a copy of the updater stub followed by the product name,\n"
    "         the version and the given files, in the order given. --allow-any-file packs\n"
    "         files that are not Windows Installer patches, for updaters used only with -x.\n"
    "         A patch whose transforms add ForceReboot or ScheduleReboot is packed with a\n"
    "         warning (Windows refuses it inside the updater's transaction); --strict refuses it.\n"
    "inspect  prints the payload an updater carries: product name and version, each file's\n"
    "         name, size, offset, SHA-256, patch code, target product codes and restart\n"
    "         actions, and what follows it.\n"
    "verify   checks a packed (and signed) updater: a sound payload with nothing but a\n"
    "         certificate table behind it, and a signature whose image digest matches the\n"
    "         file, with nothing hidden behind it. It does not check the certificate chain\n"
    "         (osslsigncode verify, signtool verify do). --require-signature fails an\n"
    "         unsigned updater. Exit code 0 only when every check passed.\n"
    "detection prints the rules by which Intune or Configuration Manager detects that the\n"
    "         carried patches are installed: for each patch on each product it targets, the\n"
    "         registry value Windows Installer keeps for it (State 1, 2 or 4) and Intune's\n"
    "         registry rules for it; and one PowerShell detection script for every patch,\n"
    "         product and installation context.\n"
    "Sign an updater only after packing it.\n";

namespace {

bool IsHelp(const std::string& arg)
{
    return arg == "--help" || arg == "-h";
}

// Splits "--option=value"; true when `arg` is the option, with or without a value.
bool Matches(const std::string& arg, const std::string& option, bool& inlineValue, std::string& value)
{
    if (arg == option) {
        inlineValue = false;
        return true;
    }
    if (arg.compare(0, option.size() + 1, option + "=") != 0)
        return false;
    inlineValue = true;
    value = arg.substr(option.size() + 1);
    return true;
}

bool ParseBuild(const std::vector<std::string>& args, BuildRequest& request, std::string& error)
{
    struct Valued {
        const char* option;
        std::string* target;
        bool seen;
    } valued[] = {
        {"--stub", &request.stub, false},
        {"--name", &request.name, false},
        {"--version", &request.version, false},
        {"--output", &request.output, false},
    };
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            request.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--allow-any-file") {
            request.allowAnyFile = true;
            continue;
        }
        if (arg == "--strict") {
            request.strict = true;
            continue;
        }
        bool known = false;
        for (Valued& v : valued) {
            bool inlineValue = false;
            std::string value;
            if (!Matches(arg, v.option, inlineValue, value))
                continue;
            known = true;
            if (v.seen) {
                error = std::string(v.option) + " is given twice";
                return false;
            }
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    error = std::string(v.option) + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            *v.target = value;
            v.seen = true;
            break;
        }
        if (!known) {
            error = "unknown option " + arg;
            return false;
        }
    }
    for (const Valued& v : valued) {
        if (!v.seen) {
            error = std::string("build needs ") + v.option;
            return false;
        }
    }
    if (request.stub.empty() || request.output.empty()) {
        error = "--stub and --output need a file name";
        return false;
    }
    return true;
}

bool ParseInspect(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    bool optionsEnded = false;
    bool havePath = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--json") {
            line.json = true;
        } else if (!optionsEnded && arg == "--require-signature" && line.command == Command::Verify) {
            line.requireSignature = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (havePath) {
            error = args[0] + " takes one updater";
            return false;
        } else {
            line.inspectPath = arg;
            havePath = true;
        }
    }
    if (!havePath) {
        error = args[0] + " needs the updater to read";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    line = CommandLine{};
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            line.command = Command::Help;
            return true;
        }
    }
    if (args.size() == 1 && args[0] == "--version") {
        line.command = Command::Version;
        return true;
    }
    if (args.empty()) {
        error = "a command is needed";
        return false;
    }
    if (args[0] == "build") {
        line.command = Command::Build;
        return ParseBuild(args, line.build, error);
    }
    if (args[0] == "inspect") {
        line.command = Command::Inspect;
        return ParseInspect(args, line, error);
    }
    if (args[0] == "verify") {
        line.command = Command::Verify;
        return ParseInspect(args, line, error);
    }
    if (args[0] == "detection") {
        line.command = Command::Detection;
        return ParseInspect(args, line, error);
    }
    error = "unknown command " + args[0];
    return false;
}

}  // namespace pack
