// Applying to one installed product every carried patch that targets it, in the order
// Windows Installer works out, inside the run's open transaction. Worker thread only.
#pragma once

#include <windows.h>

#include <string>

#include "ProductPatchMap.h"
#include "UpdateOutcome.h"
#include "UpdateTable.h"

// installation names the product, the context it is installed in and its patches' positions
// in table (ascending, repeats allowed); patchCodes holds each table entry's patch code.
// Each step is logged and its status text sent to window as WM_UPDATE_STATUS when window
// is not null. A patch that Windows Installer already lists as applied to the product in
// that context is not applied again. Sets *rebootRequired when a patch asks for a restart
// and never clears it. outcome (from PendingOutcome) receives each patch's status.
// 0 when every applicable patch was applied or was so already (or none applied),
// MsiApplyPatchW's error when a patch failed, 1 when the patches could not be sequenced.
int ApplyProductUpdates(const wchar_t* folder, const ProductInstallation& installation, const UpdateTable& table,
                        const PatchCodeList& patchCodes, HWND window, bool* rebootRequired, ProductOutcome& outcome);
