// Restart actions that a patch's transforms put into a sequence table. Windows Installer stops
// and rolls back a package that runs ForceReboot or ScheduleReboot inside a multiple-package
// transaction, which is how the updater applies every patch, so the packer warns of them.
// Each transform substorage of the patch is read on its own: its string pool and the streams
// of the sequence tables, whose rows follow Windows Installer's fixed schema (Action, the key,
// a string; Condition, a string; Sequence, a 2-byte integer).
#pragma once

#include "CompoundFile.h"

#include <string>
#include <vector>

namespace pack {

struct RestartAction {
    std::string transform;  // the substorage's name, for example "T1"
    std::string table;      // for example "InstallExecuteSequence"
    std::string action;     // "ForceReboot" or "ScheduleReboot"
};

// "ScheduleReboot in InstallExecuteSequence (transform T1)".
std::string DescribeRestartAction(const RestartAction& action);

// Every row of a sequence table that a transform of the patch inserts, replaces or changes
// whose action is a restart action (rows it deletes do not count). False with a reason when a
// transform's string pool or sequence table cannot be read or does not fit its schema; the
// actions found up to there are kept.
bool FindRestartActions(const compound::Reader& patch, std::vector<RestartAction>& found, std::string& error);

}  // namespace pack
