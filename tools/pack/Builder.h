// The build command: checks every input first, then writes the stub's bytes followed by the
// payload. Nothing is written unless every check passes.
#pragma once

#include <string>
#include <vector>

namespace pack {

struct BuildRequest {
    std::string stub;  // UTF-8 paths and texts, as on the command line
    std::string name;
    std::string version;
    std::string output;
    std::vector<std::string> files;
    bool allowAnyFile = false;  // files that are not patches only warn (for -x updaters)
    bool strict = false;        // a patch with a restart action is refused, not only warned of
};

// False with one line naming the input at fault. Warnings are lines to show as they are.
bool BuildUpdater(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error);

}  // namespace pack
