// tessarvane-pack's command line: `build`, `inspect`, `verify` and `detection` with their options.
#pragma once

#include "Builder.h"

#include <string>
#include <vector>

namespace pack {

enum class Command { Help, Version, Build, Inspect, Verify, Detection };

struct CommandLine {
    Command command = Command::Help;
    BuildRequest build;
    std::string inspectPath;  // the updater that inspect, verify or detection reads
    bool json = false;
    bool requireSignature = false;  // verify only
};

extern const char kUsage[];

// Arguments without the program name. False with a one-line reason on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

}  // namespace pack
