// The working directory: base folder, unique name, access control.
#pragma once

#include "platform/dir_security.h"
#include "sea/extract_context.h"

// The base folder: the chosen folder, else the system temporary folder, else
// the fallback folder ("C:\Temp"), entered or created. Sets
// ctx.base_folder. Returns 0 (after AskForTempLocation and its failure
// line) when the fallback folder can be neither created nor entered.
int ChooseBaseFolder(ExtractContext& ctx);

// Remembers the current directory as the starting directory and enters the
// base folder; when that fails, logs the fallback line and stays in the
// starting directory. Never fails.
void EnterBaseFolder(ExtractContext& ctx);

// Creates "I<seconds>" (or, after a collision, "I" and eight
// random digits) in the current directory, under the protected access list
// when the user is an elevated administrator, records its full path in the
// run state and in ctx, and restores the starting directory. Returns 0
// after AskForTempLocation when no directory could be created or entered;
// six name collisions in a row end there too.
int CreateWorkDir(ExtractContext& ctx);

// True when the caller's token holds BUILTIN\Administrators enabled; logs a
// line of asterisks whose count tells how the test ended (13: elevated, 11:
// not; see platform/dir_security.h for the rest).
bool IsElevatedAdmin();

// The working directory's security, logged as "Attributes set."; null after
// "Default." when it cannot be built, which also disables access control
// for the rest of the run. Release with FreeDirSecurity.
DirSecurity* BuildWorkDirSecurity();

// The range of the random numbers drawn after a collision: "I" and exactly
// eight digits.
constexpr int32_t kRandomNameLow = 10000000;
constexpr int32_t kRandomNameHigh = 99999999;
