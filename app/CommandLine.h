// The updater's command line: [[-x [outdir]]|[-a]] [-l [logdir]], case-sensitive.
#pragma once

#include <string>

// Fills appState's run mode, extract folder and log folder from argv (argv[0] is the
// program). A rejected line leaves the run mode Invalid.
void ParseCommandLine(int argc, wchar_t** argv);

// The folder of the running executable, without a final backslash; false when the path
// cannot be had whole (it was cut at MAX_PATH) or holds no backslash.
bool GetExecutableFolder(std::wstring& folder);
