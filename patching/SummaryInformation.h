// Reading the summary information of a patch or a package: the text properties that the run
// needs (a patch's targets and code, a package's template). Any thread.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <string>
#include <vector>

// Reads a text property with the two-call protocol (InstallerText.h): buffer receives the
// terminated value. ERROR_SUCCESS, or the error of the call that failed; a property that holds
// no text gives ERROR_INVALID_DATA.
UINT ReadSummaryText(MSIHANDLE summary, UINT property, std::vector<wchar_t>& buffer);

// A patch's own code: the braced GUID that begins its revision number, which may go on with
// the codes of the patches it supersedes. Empty when there is no such value.
std::wstring ReadPatchCode(MSIHANDLE summary);
