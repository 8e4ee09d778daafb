// The process-wide run state and the instance handle.
#include "AppState.h"

AppState appState;
HINSTANCE instanceHandle = nullptr;
