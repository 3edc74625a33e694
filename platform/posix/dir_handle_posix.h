// Inside the POSIX held directory: its descriptor, for the other POSIX
// implementations that work relative to it.
#pragma once

#include "platform/dir_handle.h"

int DirHandleDescriptor(const DirHandle* dir);
