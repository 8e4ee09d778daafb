// tessarvane-mkpatch: writes Windows Installer patches for tests and the demo. Exit codes:
// 0 written, 1 a product, file name or replacement was wrong (nothing written), 2 usage.
#include "PatchBuilder.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    mkpatch::PatchOptions options;
    std::string error;
    if (!mkpatch::ParseCommandLine(args, options, &error)) {
        std::cerr << "tessarvane-mkpatch: " << error << "\n" << mkpatch::kUsage;
        return 2;
    }
    if (!mkpatch::BuildPatch(options, &error)) {
        std::cerr << "tessarvane-mkpatch: " << error << "\n";
        return 1;
    }
    return 0;
}
