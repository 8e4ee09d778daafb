// A patch's code: the GUID that begins its summary's revision number, which Windows Installer
// registers for every product the patch is applied to.
#pragma once

#include <windows.h>

#include <msi.h>

// Records the patch at index with its code and its target list (the PID_TEMPLATE text) for
// the result file. The code is left empty when the revision number cannot be read or does
// not begin with a GUID in braces; the codes of superseded patches that may follow are not
// kept.
void RecordPatchSummary(int index, MSIHANDLE summary, const wchar_t* targets);
