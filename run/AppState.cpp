// The process-wide run state and the instance handle.
#include "AppState.h"

AppState appState;
HINSTANCE instanceHandle = nullptr;

AppState::~AppState()
{
    if (logFile != INVALID_HANDLE_VALUE)
        CloseHandle(logFile);
    if (payloadFile != INVALID_HANDLE_VALUE)
        CloseHandle(payloadFile);
}
