// Whether a carried patch's own transforms add a restart action (ForceReboot or ScheduleReboot)
// to a sequence table, read from the patch file as the packer reads it. Worker thread, before
// the transaction begins.
#pragma once

#include <string>

// action receives the first such action, described as "ScheduleReboot in InstallExecuteSequence
// (transform T1)", or an empty text when the transforms add none. False, with the reason in
// reason, when the file cannot be read as a patch package.
bool FindPatchRestartAction(const std::wstring& path, std::wstring& action, std::wstring& reason);
