// What one extraction attempt knows about itself, and the clean-up steps
// shared by its failure paths.
//
// The driver (ExtractFile) owns one ExtractContext for the length of a call
// and hands it to the steps declared in work_dir.h, own_file.h,
// location_file.h and launch.h. Each step returns 1 to go on or 0 after it
// has done its own failure handling (log lines, dialog state, clean-up), so
// that the driver only has to return 0 in turn.
//
// The driver's order, with its nine abort tests (AbortRequested):
//   1  log "Extracting files."            2  ShowPreparing()
//   3  monitor, prototypes, entry list     4  abort test 1 (kNone)
//   5  ChooseBaseFolder                    6  abort test 2 (kNone); EnterBaseFolder
//   7  CreateWorkDir                       8  abort test 3 (kRemove)
//   9  CheckOwnFile (abort tests 4, 5)    10  CheckFreeSpace (abort test 6)
//  11  the own path taken at start-up     12  archive on the held own file; ReadDirectory
//  13  EnterWorkDir                       14  abort test 7 (kRestoreRemove)
//  15  Extract; a non-zero result goes to LogStatusCodeText
//  16  abort test 8 (kRestoreRemove)      17  negative result: FailExtraction
//  18  PatchHeapSizes when a heap option was given
//  19  abort test 9 (kRestoreRemove)      20  WriteLocationFile
//  21  LaunchInstaller
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dir_handle.h"
#include "platform/dir_security.h"

struct FileLock;

// Where the working directory's name and location come from. The defaults
// are the real sources; tests replace them.
struct WorkDirSources {
    // Seconds since 1970-01-01 00:00 UTC.
    std::function<int32_t()> now;
    // One value from the system's cryptographic generator (seeds MT19937).
    std::function<uint32_t()> random_seed;
    // The system temporary folder, with its trailing separator.
    std::function<bool(std::wstring&)> temp_folder;
    // Used when the temporary folder cannot be obtained.
    std::wstring fallback_folder;
    // Creates one directory, with or without access control.
    std::function<DirCreateResult(const std::wstring&, const DirSecurity*)> create_dir;
    // Makes a directory the current one (the working directory, each time
    // a step enters it).
    std::function<bool(const std::wstring&)> enter_dir;
};
WorkDirSources DefaultWorkDirSources();

struct ExtractContext {
    ExtractContext();
    ~ExtractContext();
    ExtractContext(const ExtractContext&) = delete;
    ExtractContext& operator=(const ExtractContext&) = delete;

    WorkDirSources sources;

    std::wstring base_folder;    // where the working directory is created
    std::wstring starting_dir;   // current directory before the base folder was entered
    std::wstring work_dir_name;  // relative name "I<digits>"
    std::wstring work_dir_full;  // its full path, no trailing separator
    std::wstring work_dir_path;  // its full path with a trailing separator
    bool work_dir_created = false;
    // The working directory held from its creation to the launch: every
    // file of the tree is made relative to it (held_tree.h).
    DirHandle* work_dir = nullptr;
    FileLock* marker = nullptr;  // the held marker of this run (run_marker.h)

    std::wstring own_path;       // the running executable
    std::wstring own_name;       // its file name without extension
    std::wstring own_extension;  // with the leading '.'
    int own_file = -1;           // the held own file, in use from the own-file check to the free-space rule
    int64_t compressed_size = 0; // own file length less the bytes read at its start

    std::wstring launcher;       // launcher candidate inside the working directory
};

// Makes the starting directory current again.
void RestoreStartingDir(ExtractContext& ctx);
// Plain (non-recursive) removal of the working directory by its full path:
// succeeds only while it is empty. Its hold ends first. The held marker goes first when it is
// all the directory holds; otherwise it is closed and stays, marking the
// tree left behind as one of a run that did not finish. The run state
// keeps the path either way, so that a tree left behind can still be
// removed at the end of the run.
bool RemoveWorkDir(ExtractContext& ctx);
// Ends the hold of the working directory (the directory stays).
void ReleaseWorkDir(ExtractContext& ctx);
// Ends the use of the own file (the held descriptor itself stays open).
void CloseOwnFile(ExtractContext& ctx);
// Makes the working directory current (entries are extracted relative to it).
bool EnterWorkDir(ExtractContext& ctx);

// The clean-up an abort test performs before "User requested ABORT".
enum class AbortCleanup {
    kNone,                // tests 1 and 2
    kRemove,              // test 3
    kRestoreRemove,       // tests 4, 7, 8 and 9 (an open own file is closed too)
    kCloseRestoreRemove,  // tests 5 and 6
};
// True when the user asked to stop (ExitInEffect): the clean-up is done and
// "User requested ABORT" logged; the driver then returns 0.
bool AbortRequested(ExtractContext& ctx, AbortCleanup cleanup);

// Test seam: when set, AbortRequested calls it first, before it reads
// ExitInEffect, so that a test can raise the flag at a chosen abort test.
// The program itself never sets it.
using AbortTestProbe = void (*)();
extern AbortTestProbe g_abort_test_probe;
// Test seam: when set, the entry function calls it after a user abort just
// before it removes the working directory tree, so that a test can see what
// the driver's own clean-up left. The program itself never sets it.
extern AbortTestProbe g_abort_cleanup_probe;

// Extract failed with `status` (negative): asks for another
// location with an empty main text, restores, removes and logs
// "*** FAILURE: Unable to unzip file: Error %d". Returns 0.
int FailExtraction(ExtractContext& ctx, int32_t status);
