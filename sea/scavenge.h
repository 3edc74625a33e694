// Scavenging: before a new working directory is created, the working
// directories that interrupted runs left in the same base folder are
// removed.
//
// A candidate is a directory (never a link, junction or other reparse
// point) named "I" followed by decimal digits, private to the user this run
// runs as (nobody else owns it or may write into it; IsPrivateToCaller in
// platform/dir_handle.h), that holds the marker of a run in progress
// (run_marker.h) which can be taken: no living run holds it. The directory
// is held open from that check on; the marker is taken and the tree removed
// through that hold (tree_removal.h), the marker last, so a removal that is
// itself interrupted leaves the marker for the next run. Directories without the
// marker (trees of finished runs, which belong to their installers, and
// anything made by someone else) are never touched, nor are those with a
// marker that a living run holds, nor this run's own working directories.
//
// The work is bounded: at most `max_directories` trees are removed (or
// their removal tried), and nothing new is started once `budget` has
// passed, so a base folder full of entries cannot delay the start.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct ScavengeLimits {
    size_t max_directories = 32;
    std::chrono::milliseconds budget{1000};
};

struct ScavengeResult {
    size_t examined = 0;       // candidate directories whose marker was looked for
    size_t removed = 0;        // trees removed
    size_t failed = 0;         // trees whose removal failed (their marker stays)
    bool out_of_budget = false;  // stopped by either limit
};

// Logs "Removing the working directory of an interrupted run: %s" for each
// tree it removes, and "Unable to remove the working directory of an
// interrupted run: %s" when that removal fails. `base` is a full path;
// `keep` lists full paths of directories to leave alone.
ScavengeResult ScavengeInterruptedRuns(const std::wstring& base, const std::vector<std::wstring>& keep,
                                       const ScavengeLimits& limits = ScavengeLimits());

// "I" followed by one or more decimal digits, nothing else.
bool IsWorkDirName(const std::wstring& name);
