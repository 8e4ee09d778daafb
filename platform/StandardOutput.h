// The process's standard output, for a GUI program whose caller may have redirected it.
#pragma once

#include <string>

// Writes the line, in UTF-8 and ended by CR LF, to standard output when that is a pipe or a
// file, as a script or a deployment tool that reads the program's output makes it; nothing
// where there is none (a GUI program started from Explorer) or it is a console. True when the
// whole line was written.
bool WriteStandardOutputLine(const std::wstring& line);
