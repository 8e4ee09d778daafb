// Start-up's preparation of the -l folder before the log is opened.
#pragma once

// Gives appState.logFolder its final backslash and creates its missing levels, shallowest
// first, each protected as the working folder is (SYSTEM and Administrators only). Only
// backslashes separate levels; when no level of the path exists nothing is created. Creation
// results are not examined: a log that cannot be opened stays off.
void PrepareLogFolder();
