// No common controls on POSIX.
#include "platform/common_controls.h"

bool LoadCommonControls() { return true; }
