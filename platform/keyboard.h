// Keyboard state at start-up.
#pragma once

// True when the control key is held down (GetKeyState(VK_CONTROL) < 0).
// POSIX programs have no keyboard of their own: always false there.
bool IsControlKeyDown();
