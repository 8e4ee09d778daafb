// The command line of tessarvane-mkpatch; each --target starts a new product and the
// --replace options after it belong to that product.
#include "PatchBuilder.h"

#include <cctype>

namespace mkpatch {

const char* const kUsage =
    "usage: tessarvane-mkpatch --output PATCH.msp [--product-version X.Y.Z] [--restart] [--broken-cabinet]\n"
    "                          [--sequence FAMILY=X.Y.Z [--supersede]] [--allow-removal]\n"
    "                          --target PRODUCT.msi --replace FILENAME=NEWFILE [--replace ...] [--add "
    "FILENAME=NEWFILE]\n"
    "                          [--target PRODUCT2.msi --replace ...]\n";

namespace {

bool Fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

bool IsVersion(const std::string& text)
{
    // Two to four dot-separated numbers; Windows Installer allows 255.255.65535.
    size_t fields = 0, digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0)
                return false;
            fields++, digits = 0;
        } else if (isdigit(static_cast<unsigned char>(c)) && digits < 5) {
            digits++;
        } else {
            return false;
        }
    }
    return digits > 0 && fields >= 1 && fields <= 3;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, PatchOptions& options, std::string* error)
{
    options = PatchOptions{};
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (arg == "--restart") {
            options.restart = true;
            continue;
        }
        if (arg == "--broken-cabinet") {
            options.brokenCabinet = true;
            continue;
        }
        if (arg == "--allow-removal") {
            options.allowRemoval = true;
            continue;
        }
        if (arg == "--supersede") {
            options.supersedeEarlier = true;
            continue;
        }
        if (arg != "--output" && arg != "--product-version" && arg != "--target" && arg != "--replace" &&
            arg != "--add" && arg != "--sequence")
            return Fail(error, "unknown argument '" + arg + "'");
        if (i + 1 >= args.size() || args[i + 1].empty())
            return Fail(error, arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--output") {
            if (!options.output.empty())
                return Fail(error, "--output given twice");
            options.output = value;
        } else if (arg == "--product-version") {
            if (!IsVersion(value))
                return Fail(error, "--product-version '" + value + "' is not a version like 1.2.3");
            options.productVersion = value;
        } else if (arg == "--sequence") {
            size_t equals = value.find('=');
            if (equals == 0 || equals == std::string::npos || !IsVersion(value.substr(equals + 1)))
                return Fail(error, "--sequence '" + value + "' is not FAMILY=X.Y.Z");
            options.patchFamily = value.substr(0, equals);
            options.familySequence = value.substr(equals + 1);
        } else if (arg == "--target") {
            options.targets.push_back(TargetSpec{value, {}});
        } else {
            if (options.targets.empty())
                return Fail(error, arg + " '" + value + "' comes before any --target");
            size_t equals = value.find('=');
            if (equals == 0 || equals == std::string::npos || equals + 1 == value.size())
                return Fail(error, arg + " '" + value + "' is not FILENAME=NEWFILE");
            TargetSpec& target = options.targets.back();
            (arg == "--add" ? target.additions : target.replacements)
                .push_back({value.substr(0, equals), value.substr(equals + 1)});
        }
    }
    if (options.output.empty())
        return Fail(error, "--output is missing");
    if (options.targets.empty())
        return Fail(error, "--target is missing");
    if (options.supersedeEarlier && options.patchFamily.empty())
        return Fail(error, "--supersede needs --sequence");
    for (const TargetSpec& target : options.targets)
        if (target.replacements.empty() && target.additions.empty())
            return Fail(error, "--target '" + target.product + "' has no --replace or --add");
    return true;
}

}  // namespace mkpatch
