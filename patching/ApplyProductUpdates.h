// Applying to one installed product every carried patch that targets it, in the order
// Windows Installer works out, inside the run's open transaction. Worker thread only.
#pragma once

#include <cstdint>

#include "UpdateProgress.h"
#include "UpdateTable.h"

// installation is the installation's place in the run's record, which names the product, the
// context it is installed in and its patches' positions in table (ascending, repeats allowed);
// what becomes of each patch goes there too. Each step is logged, and each patch's status line
// shown through progress. A patch that Windows Installer already lists as applied to the
// product in that context (or as superseded or obsolete) is not applied again. Sets
// *rebootRequired when a patch asks for a restart and never clears it.
// 0 when every applicable patch was applied or was so already (or none applied),
// MsiApplyPatchW's error when a patch failed, 1 when the patches could not be sequenced.
int ApplyProductUpdates(const wchar_t* folder, uint32_t installation, const UpdateTable& table,
                        const UpdateProgress& progress, bool* rebootRequired);
