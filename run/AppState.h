// The run state of one process: written during start-up on the main thread, before any
// window or worker exists, and only read afterwards. Owns the log and payload files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "UniqueHandle.h"

enum class RunMode : int32_t {
    Invalid = 0,      // command line rejected
    Interactive = 1,  // progress window, waits for OK
    Extract = 2,      // -x: unpack the carried files only
    Unattended = 3,   // -a: the window runs by itself
};

struct AppState {
    RunMode runMode = RunMode::Interactive;
    FileHandle logFile;  // none: logging is off
    FileHandle payloadFile;
    std::wstring extractFolder;
    std::wstring logFolder;  // empty: no logging; ends with a backslash once prepared
    std::wstring productName;
    std::wstring productVersion;

    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
};

extern AppState appState;

// wWinMain's hInstance, stored before anything else; resources are loaded through it.
extern HINSTANCE instanceHandle;
