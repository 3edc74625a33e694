// The check on the program's own file before anything is extracted.
#pragma once

#include <string>

#include "sea/extract_context.h"

// The own-file check with abort tests 4 and 5: splits own_path into
// ctx.own_path / own_name / own_extension, opens it for binary reading
// (ctx.own_file stays open for the free-space rule), reads its first 2048
// bytes, builds the first launcher candidate (working directory + "Windows"
// + own name and extension) and computes ctx.compressed_size = file length
// - bytes read. Returns 0 after its failure handling: the file cannot be
// opened (string 9) or holds fewer than 8 bytes (string 12).
int CheckOwnFile(ExtractContext& ctx, const std::wstring& own_path);

// Launcher folders inside the working directory, with their separator.
std::wstring LauncherFolder32();  // "Windows\" ("Windows/" on POSIX)
std::wstring LauncherFolder64();  // "Windows_Pure_64_Bit\"
