#include "sea/run_state.h"

// Zero at process start: strings empty, handles null, flags false.
RunState g_run;
