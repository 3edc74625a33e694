// Recursive removal of the working directory after a cancelled run, and of
// the trees of interrupted runs.
#include "sea/tree_removal.h"

#include <cstdint>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/path.h"

TreeDescentProbe g_tree_descent_probe = nullptr;

namespace {

struct DirCloser {
    DirHandle* dir;
    ~DirCloser() { CloseDirHandle(dir); }
};

// Removes the entry `entry` of the held `parent`. A directory is opened
// before it is entered; should it have become a link or a file since the
// listing, that is removed instead, as a link.
bool RemoveHeldEntry(const DirHandle* parent, const std::wstring& parent_path, bool clear_read_only,
                     const DirEntry& entry) {
    const bool listed_as_directory =
        (entry.attributes & kAttrDirectory) != 0 && (entry.attributes & kAttrReparsePoint) == 0;
    if (!listed_as_directory) return RemoveChildEntry(parent, entry.name, clear_read_only);
    const std::wstring path = parent_path + kPathSeparator + entry.name;
    if (g_tree_descent_probe) g_tree_descent_probe(path);
    DirHandle* child = nullptr;
    switch (OpenChildDir(parent, entry.name, &child)) {
    case ChildOpenResult::kOpened:
        break;
    case ChildOpenResult::kNotDirectory:
        return RemoveChildEntry(parent, entry.name, clear_read_only);
    case ChildOpenResult::kFailed:
        return false;
    }
    if (clear_read_only) ClearDirReadOnly(child);
    if (!DeleteHeldTreeContents(child, path, clear_read_only, std::wstring())) {
        CloseDirHandle(child);
        return false;
    }
    return RemoveChildDir(parent, entry.name, child, clear_read_only);
}

// dir split into the folder that holds it and its own name, without a
// trailing separator.
void SplitLastComponent(const std::wstring& dir, std::wstring& parent, std::wstring& name) {
    std::wstring trimmed = dir;
    while (trimmed.size() > 1 && IsPathSeparator(trimmed.back())) trimmed.pop_back();
    size_t sep = trimmed.size();
    while (sep > 0 && !IsPathSeparator(trimmed[sep - 1])) --sep;
    name = trimmed.substr(sep);
    parent = sep == 0 ? std::wstring(L".") : trimmed.substr(0, sep);
}

}  // namespace

bool DeleteHeldTreeContents(const DirHandle* dir, const std::wstring& path, bool clear_read_only,
                            const std::wstring& keep) {
    std::vector<DirEntry> entries;
    if (!ListDirHandle(dir, entries)) return false;
    bool result = true;
    for (const DirEntry& entry : entries) {
        if (!keep.empty() && entry.name == keep) continue;
        if (!RemoveHeldEntry(dir, path, clear_read_only, entry)) result = false;
    }
    return result;
}

bool DeleteDirectoryTree(const std::wstring& dir, bool clear_read_only) {
    std::wstring parent_path, name;
    SplitLastComponent(dir, parent_path, name);
    if (name.empty() || name == L"." || name == L"..") return false;
    DirCloser parent{OpenDirHandle(parent_path, true)};
    if (!parent.dir) return false;
    DirHandle* held = nullptr;
    if (OpenChildDir(parent.dir, name, &held) != ChildOpenResult::kOpened) return false;
    if (!DeleteHeldTreeContents(held, dir, clear_read_only, std::wstring())) {
        CloseDirHandle(held);
        return false;
    }
    return RemoveChildDir(parent.dir, name, held, clear_read_only);
}

bool DeleteTreeEntry(const std::wstring& dir, bool clear_read_only, const DirEntry& entry) {
    if (entry.name == L"." || entry.name == L"..") return true;
    DirCloser parent{OpenDirHandle(dir, false)};
    if (!parent.dir) return false;
    return RemoveHeldEntry(parent.dir, dir, clear_read_only, entry);
}

bool SetPathReadOnly(const std::wstring& path, bool read_only) {
    uint32_t attributes = 0;
    if (!GetPathAttributes(path, attributes) || (attributes & kAttrReparsePoint)) return false;
    attributes = read_only ? (attributes | kAttrReadOnly) : (attributes & ~kAttrReadOnly);
    return SetPathAttributes(path, attributes);
}
