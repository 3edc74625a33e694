// Dispatching the window messages that wait for the calling thread, so that
// a window stays responsive while long work runs on its thread.
#pragma once

// Removes and dispatches every pending message of the calling thread until
// the queue is empty (Windows); nothing on systems without a message queue.
void PumpPendingMessages();
