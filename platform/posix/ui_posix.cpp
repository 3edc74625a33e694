#include "platform/ui.h"

// No windows on POSIX: there is no class to register.
void RegisterAppWindowClass(void*, const wchar_t*, void (*)()) {}
