// The extraction driver: extracts the payload into a fresh working directory
// and starts the installer's launcher.
#pragma once

// Returns 1 when the launcher was started (the run state then holds its
// process), 0 otherwise. Runs with or without the progress dialog.
int ExtractFile();
