#include "sea/entry.h"

int SeaEntry(void*, const wchar_t*) { return -1; }
