// The updater's command line: [[-x [outdir]]|[-a]|[-q]] [-u] [-l [logdir]] [-w seconds],
// case-sensitive.
#pragma once

#include <string>

// The command line's grammar as the usage box and the log show it.
extern const wchar_t usageSynopsis[];

// The usage box's text: the synopsis, then one line for each option.
std::wstring UsageText();

// Fills appState's run mode, removal, extract folder, log folder and wait from argv (argv[0] is the
// program). A rejected line leaves the run mode Invalid; so does "-q" anywhere on a line that
// is not a check, "-u" anywhere on a line that is not a removal (which is "-u" with or without
// "-a"), and "-w" without a number of seconds (at most 86400) or with "-x". True when
// "-a" or "-q" stands anywhere on the line, whether or not it was accepted: such a run must
// never wait for anybody (neither is ever an option's value, since values cannot begin with
// '-'). A rejected line with either still gets the log folder of its first "-l", by the usual
// value rule, so that the rejection can be logged.
bool ParseCommandLine(int argc, wchar_t** argv);

// The folder of the running executable, without a final backslash; false when the path
// cannot be had whole (it was cut at MAX_PATH) or holds no backslash.
bool GetExecutableFolder(std::wstring& folder);
