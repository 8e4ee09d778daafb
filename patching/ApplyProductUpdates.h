// Applying to one installed product every carried patch that targets it, in the order
// Windows Installer works out, inside the run's open transaction. Worker thread only.
#pragma once

#include <windows.h>

#include <string>

#include "ProductPatchMap.h"
#include "UpdateTable.h"

// indexes are positions in table (ascending, repeats allowed). Each step is logged and its
// status text sent to window as WM_UPDATE_STATUS when window is not null. Sets
// *rebootRequired when a patch asks for a restart and never clears it. 0 when every
// applicable patch was applied (or none applied), MsiApplyPatchW's error when a patch
// failed, 1 when the patches could not be sequenced.
int ApplyProductUpdates(const wchar_t* folder, const std::wstring& productCode, const PatchIndexList& indexes,
                        const UpdateTable& table, HWND window, bool* rebootRequired);
