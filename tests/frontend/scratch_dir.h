// Test helpers of the front-end suite: the shared scratch directory and
// current-directory guard, and the log's line end.
#pragma once

#include "common/scratch_dir.h"

namespace frontend_test {

namespace fs = std::filesystem;

using test_support::CurrentDirGuard;
using test_support::ScratchDir;

// Line end the log writes: its stream is opened in text mode.
#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

}  // namespace frontend_test
