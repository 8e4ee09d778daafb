// The updater's command line: [[-x [outdir]]|[-a]] [-l [logdir]], case-sensitive.
#pragma once

#include <string>

// The command line's grammar as the usage box and the log show it.
extern const wchar_t usageSynopsis[];

// The usage box's text: the synopsis, then one line for each option.
std::wstring UsageText();

// Fills appState's run mode, extract folder and log folder from argv (argv[0] is the
// program). A rejected line leaves the run mode Invalid. True when "-a" stands anywhere on the
// line, whether or not it was accepted: such a run must never wait for anybody ("-a" is never
// an option's value, since values cannot begin with '-'). A rejected line with "-a" still gets
// the log folder of its first "-l", by the usual value rule, so that the rejection can be logged.
bool ParseCommandLine(int argc, wchar_t** argv);

// The folder of the running executable, without a final backslash; false when the path
// cannot be had whole (it was cut at MAX_PATH) or holds no backslash.
bool GetExecutableFolder(std::wstring& folder);
