// Dispatching the window messages that wait for the calling thread, so that
// a window stays responsive while long work runs on its thread.
#pragma once

// Removes and dispatches every pending message of the calling thread until
// the queue is empty (Windows); nothing on systems without a message queue.
// Keyboard messages for a dialog get the dialog's keyboard handling (Escape
// is Cancel, Enter the default button), as in the dialog's modal loop.
// Meant to be called very often: calls within 20 milliseconds of the last
// pass return at once, so a message waits at most that long plus the
// caller's time between two calls.
void PumpPendingMessages();
