// POSIX programs here have no window message queue: nothing to dispatch.
#include "platform/message_pump.h"

void PumpPendingMessages() {}
