// Restarting Windows after an update asked for it and the user agreed.
#pragma once

// Enables the shutdown privilege as far as it can and asks Windows to restart, for planned
// application maintenance. Returns once the request is made; reports nothing.
void RestartSystem();
