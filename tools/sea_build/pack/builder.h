// Building an installer: stub image, payload header, ZIP archive of a
// directory tree, trailer; then, when asked, the signature.
#pragma once

#include "tools/sea_build/options.h"

// Builds options.output from options.source_dir. Prints warnings, a
// progress bar when progress is set, and a summary line unless quiet.
// Returns the exit code: 0, or 1 after a one-line error (a partly written
// output is removed).
int BuildInstaller(const BuildOptions& options, bool progress);
