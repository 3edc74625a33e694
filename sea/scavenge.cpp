// Removal of the working directories of interrupted runs.
#include "sea/scavenge.h"

#include <algorithm>

#include "platform/dir_handle.h"
#include "platform/directory_search.h"
#include "platform/file_attributes.h"
#include "platform/file_lock.h"
#include "platform/path.h"
#include "sea/log.h"
#include "sea/run_marker.h"
#include "sea/tree_removal.h"

namespace {

using Clock = std::chrono::steady_clock;

bool IsPlainDirectory(uint32_t attributes) {
    return (attributes & kAttrDirectory) != 0 && (attributes & kAttrReparsePoint) == 0;
}

// The names of the candidate directories in base, in the order the system
// lists them; stops at the deadline.
std::vector<std::wstring> ListCandidates(const std::wstring& base, Clock::time_point deadline,
                                         bool& out_of_time) {
    std::vector<std::wstring> names;
    DirectorySearch search(WithTrailingSeparator(base) + L"*");
    DirEntry entry;
    while (search.Next(entry)) {
        if (Clock::now() >= deadline) {
            out_of_time = true;
            break;
        }
        if (IsWorkDirName(entry.name) && IsPlainDirectory(entry.attributes)) names.push_back(entry.name);
    }
    return names;
}

// Everything in dir except the marker, then the marker (through the hold),
// then dir itself, all through the holds on dir and its parent. When
// anything but the marker stays, the marker stays too, so that a later run
// tries again. Ends the hold on dir.
bool RemoveMarkedTree(const DirHandle* base, const std::wstring& name, const std::wstring& path,
                      DirHandle* dir, FileLock* marker) {
    if (!DeleteHeldTreeContents(dir, path, true, kRunMarkerName)) {
        ReleaseLockedFile(marker, false);
        CloseDirHandle(dir);
        return false;
    }
    // A marker that could not be deleted through its hold (read-only, say)
    // goes with a second pass.
    if (!ReleaseLockedFile(marker, true) && !DeleteHeldTreeContents(dir, path, true, std::wstring())) {
        CloseDirHandle(dir);
        return false;
    }
    return RemoveChildDir(base, name, dir, true);
}

// Opens the candidate `name` in the held base folder and, when it is a
// directory of this run's user that nobody else may write into and no
// living run holds its marker, removes the tree. Returns true when a
// removal was attempted; `removed` tells its outcome.
bool ScavengeOne(const DirHandle* base, const std::wstring& name, const std::wstring& path,
                 bool& removed) {
    DirHandle* dir = nullptr;
    if (OpenChildDir(base, name, &dir) != ChildOpenResult::kOpened) return false;
    FileLock* marker = nullptr;
    if (!IsPrivateToCaller(dir) ||
        OpenLockedFileIn(dir, kRunMarkerName, &marker) != LockOpenResult::kLocked) {
        CloseDirHandle(dir);
        return false;
    }
    ReportWorkDirStep(L"scavenging");
    WriteLog(L"Removing the working directory of an interrupted run: %s", path.c_str());
    removed = RemoveMarkedTree(base, name, path, dir, marker);
    if (!removed) WriteLog(L"Unable to remove the working directory of an interrupted run: %s", path.c_str());
    return true;
}

}  // namespace

bool IsWorkDirName(const std::wstring& name) {
    if (name.size() < 2 || name[0] != L'I') return false;
    return std::all_of(name.begin() + 1, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

ScavengeResult ScavengeInterruptedRuns(const std::wstring& base, const std::vector<std::wstring>& keep,
                                       const ScavengeLimits& limits) {
    ScavengeResult result;
    const Clock::time_point deadline = Clock::now() + limits.budget;
    std::vector<std::wstring> names = ListCandidates(base, deadline, result.out_of_budget);
    if (names.empty()) return result;
    DirHandle* base_dir = OpenDirHandle(base, true);
    if (!base_dir) return result;
    for (const std::wstring& name : names) {
        const std::wstring dir = WithTrailingSeparator(base) + name;
        if (std::find(keep.begin(), keep.end(), dir) != keep.end()) continue;
        if (result.removed + result.failed >= limits.max_directories || Clock::now() >= deadline) {
            result.out_of_budget = true;
            break;
        }
        ++result.examined;
        bool removed = false;
        if (!ScavengeOne(base_dir, name, dir, removed)) continue;
        if (removed) {
            ++result.removed;
        } else {
            ++result.failed;
        }
    }
    CloseDirHandle(base_dir);
    return result;
}
