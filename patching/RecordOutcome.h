// Hands what the update run did to each installation and patch to the run's record, from
// which the result file is made.
#pragma once

#include "UpdateOutcome.h"

void RecordOutcome(const UpdateRunOutcome& outcome);
