// The run's outcome, installation by installation, into the run's record. Worker thread, once
// the run has returned.
#include "RecordOutcome.h"

#include "RunRecord.h"

static ResultStatus ResultStatusOf(PatchStatus status)
{
    switch (status) {
    case PatchStatus::Applied:
        return ResultStatus::Applied;
    case PatchStatus::AlreadyApplied:
        return ResultStatus::AlreadyApplied;
    case PatchStatus::NotApplicable:
        return ResultStatus::NotApplicable;
    case PatchStatus::Failed:
        return ResultStatus::Failed;
    case PatchStatus::RolledBack:
        return ResultStatus::RolledBack;
    default:
        return ResultStatus::NotAttempted;
    }
}

void RecordOutcome(const UpdateRunOutcome& outcome)
{
    for (const ProductOutcome& product : outcome.products) {
        RecordInstallationName(product.productCode, product.context, product.displayName);
        for (size_t i = 0; i < product.patches.size(); ++i) {
            const PatchOutcome& patch = product.patches[i];
            // Windows Installer answered for these: MsiApplyPatchW (a rolled-back patch keeps
            // the answer it had) or the sequencing.
            bool answered = patch.status == PatchStatus::Applied || patch.status == PatchStatus::Failed ||
                            patch.status == PatchStatus::RolledBack || patch.status == PatchStatus::NotApplicable;
            RecordPatchStatus(product.productCode, product.context, i, ResultStatusOf(patch.status), answered,
                              patch.installerResult);
        }
    }
}
