// The marker of a run in progress: one file in the working directory, held
// with exclusive access (platform/file_lock.h) from right after the
// directory was created until the extraction has ended.
//
// A working directory whose marker can be taken by someone else belongs to
// a run that died before it finished: a later run may remove it
// (scavenge.h). The marker is a help only: when it cannot be created, held
// or removed, the run goes on exactly as without it.
//
// Its life in one extraction attempt:
//   created   MarkWorkDir, right after the directory was created
//   removed   UnmarkWorkDir, just before the launcher is started (no
//             launcher ever sees it), or by RemoveWorkDir's plain removal
//             while the directory holds nothing else
//   closed    CloseWorkDirMarker (the file stays), on every other failure
//             or abort path, and when the context ends
#pragma once

#include "archive/entry_list.h"
#include "sea/extract_context.h"

// The marker's name. Payload trees hold "Windows", "InstallerData" and the
// like; should a payload ever carry an entry of this name, the marker gives
// way before the extraction (PayloadNamesMarker).
extern const wchar_t kRunMarkerName[];

// Creates and holds the marker in ctx.work_dir_full. Silent either way.
void MarkWorkDir(ExtractContext& ctx);
// Deletes the held marker (then ends the hold). Nothing when none is held.
void UnmarkWorkDir(ExtractContext& ctx);
// Ends the hold; the file stays and tells a later run that this tree was
// left by a run that did not finish.
void CloseWorkDirMarker(ExtractContext& ctx);

// True when the working directory holds nothing but the marker: its plain
// removal would have succeeded without it.
bool WorkDirHoldsOnlyMarker(const ExtractContext& ctx);

// True when an entry of the list would be extracted under the marker's name.
bool PayloadNamesMarker(const ALEntryList& list);

// Test seam: when set, called at the named steps of a working directory's
// life ("made": directory made, not yet held; "created": directory made
// and held, no marker yet; "marked": marker held;
// "unmarked": marker gone, launcher not started yet; "scavenging": a dead
// run's marker taken, its tree not yet removed), so that a test can pause a
// run there. The program itself never sets it.
using WorkDirStepProbe = void (*)(const wchar_t* step);
extern WorkDirStepProbe g_work_dir_step_probe;
void ReportWorkDirStep(const wchar_t* step);
