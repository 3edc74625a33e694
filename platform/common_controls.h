// The system's common controls (the progress bar of the dialog).
#pragma once

// Loads the common controls library from the system (version 6, where the
// program's manifest asks for it) and registers the progress bar class.
// The library is loaded at run time, never through the import table, so
// that it and the DLLs it loads while it starts come from the system and
// not from the program's folder. Loaded once, kept for the life of the
// process. False when it cannot be loaded. Nothing to do on POSIX.
bool LoadCommonControls();
