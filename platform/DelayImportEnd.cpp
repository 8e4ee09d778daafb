// The end of the image's delay-import descriptor table. Each delay-import library made by
// dlltool (cmake/UpdaterImage.cmake) contributes one descriptor in a .text$2 section, and the
// linker places .text$N sections in name order, so this empty descriptor in .text$3 follows
// the last of them, as the table's terminator; cmake/set-load-config.py then points the Delay
// Import directory at the table. Without the directory, import listers and Windows' own
// tools do not see msi.dll among the program's imports.
// Only the program links this file, outside the link-time optimisation, so that the section
// is emitted as written.
#include <cstdint>

// Eight zero 32-bit fields, aligned as the descriptors are so that no padding comes between.
extern "C" __attribute__((used, section(".text$3"), aligned(4))) const uint32_t tessarvaneDelayImportEnd[8] = {};
