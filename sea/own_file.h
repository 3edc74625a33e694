// The program's own file: held from start-up, and checked before anything
// is extracted.
#pragma once

#include <string>

#include "platform/own_image.h"
#include "sea/extract_context.h"

// Opens the program's own file once, before anything else reads it (the
// options file, the dialog, the working directory), into g_run.own_image,
// and checks that it is the running image (platform/own_image.h). Every
// later read of the own file goes through that descriptor; nothing opens
// the own path again. Nothing is logged here: the logging switch is not
// known yet; CheckOwnFile reports the outcome.
void HoldOwnFile();
// Closes the held file (after the launch, at the end of the run).
void ReleaseOwnFile();

// The own-file check with abort tests 4 and 5, on the held file: splits
// own_path into ctx.own_path / own_name / own_extension, takes the held
// descriptor for the free-space rule (ctx.own_file), reads its first 2048
// bytes, builds the first launcher candidate (working directory +
// "Windows" + own name and extension) and computes ctx.compressed_size =
// file length - bytes read. Returns 0 after its failure handling: the file
// could not be opened or is not the running image (string 9), or it holds
// fewer than 8 bytes (string 12). A file that could not be compared with
// the running image is used and logged as such.
int CheckOwnFile(ExtractContext& ctx, const std::wstring& own_path, const OwnImage& held);

// Launcher folders inside the working directory, with their separator.
std::wstring LauncherFolder32();  // "Windows\" ("Windows/" on POSIX)
std::wstring LauncherFolder64();  // "Windows_Pure_64_Bit\"

// Test seam: when set, HoldOwnFile calls it with the step it has reached,
// so that a test can change the file system at that moment. The program
// itself never sets it.
enum class OwnFileStep {
    kPathTaken,  // the own path is known, nothing is open yet
    kHeld,       // the own file is open and checked
};
using OwnFileProbe = void (*)(OwnFileStep step);
extern OwnFileProbe g_own_file_probe;
