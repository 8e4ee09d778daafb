// The run's outcome, installation by installation, into the run's record. Worker thread, once
// the run has returned.
#include "RecordOutcome.h"

#include "RunRecord.h"

void RecordOutcome(const UpdateRunOutcome& outcome)
{
    for (const ProductOutcome& product : outcome.products) {
        RecordInstallationName(product.productCode, product.context, product.userSid, product.displayName);
        for (size_t i = 0; i < product.patches.size(); ++i) {
            const PatchOutcome& patch = product.patches[i];
            // Windows Installer answered for these: MsiApplyPatchW (a rolled-back patch keeps
            // the answer it had) or the sequencing.
            bool answered = patch.status == PatchStatus::Applied || patch.status == PatchStatus::Failed ||
                            patch.status == PatchStatus::RolledBack || patch.status == PatchStatus::NotApplicable ||
                            patch.status == PatchStatus::NotRegistered;
            RecordPatchStatus(product.productCode, product.context, product.userSid, i, patch.status, answered,
                              patch.installerResult, patch.patchState);
        }
    }
}
