// The image's load configuration, for one field: DependentLoadFlags, which tells Windows 10
// and later to look for the DLLs that the loader resolves before wWinMain runs (the static
// imports and what they need) in the system folder only. The linker keeps this structure but
// does not point the image's Load Configuration directory at it; the build does that after
// linking (cmake/set-load-config.py), and a test reads the built image back.
// Only the program links this file.
#include <windows.h>

#include <cstddef>

namespace {

// The toolchain's header still calls DependentLoadFlags "Reserved1". The structure ends after
// SecurityCookie: no safe exception handler table is declared.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY MakeLoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY config{};
    config.Size = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SEHandlerTable);
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}

}  // namespace

extern "C" __attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = MakeLoadConfig();
