// The location file "sea_loc": tells the installer where the program that
// unpacked it lives.
#pragma once

#include <string>

#include "sea/extract_context.h"

// The bytes of sea_loc for own_path: its UTF-8 form, LF and one zero byte
// (the converted string's terminator). Empty when the path cannot be
// converted.
std::string LocationFileBytes(const std::wstring& own_path);

// Writes ctx.work_dir_path + "sea_loc" for the program's own path.
// Returns 0 after its failure handling (string 21 in AskForAnotherLocation,
// restore, remove, failure line) when the file cannot be created or fully
// written.
int WriteLocationFile(ExtractContext& ctx);

// The same for a given own path (tests use paths of their own).
int WriteLocationFileFor(ExtractContext& ctx, const std::wstring& own_path);
