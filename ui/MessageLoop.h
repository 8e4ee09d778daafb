// The main thread's message loop for the window modes.
#pragma once

#include "UpdaterDialog.h"

// Pumps messages until WM_QUIT and gives its code; 1 when GetMessageW fails. While the
// progress window exists, its keyboard interface (Tab, Enter, Escape) comes first.
int RunMessageLoop(const UpdaterDialog& dialog);
