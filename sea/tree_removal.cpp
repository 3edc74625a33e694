// Recursive removal of the working directory after a cancelled run.
#include "sea/tree_removal.h"

#include <cstdint>

#include "platform/directory.h"
#include "platform/file_attributes.h"
#include "platform/file_stream.h"
#include "platform/path.h"

bool DeleteDirectoryTree(const std::wstring& dir, bool clear_read_only) {
    bool result = true;
    {
        DirectorySearch search(dir + kPathSeparator + L"*");
        if (!search.started()) return false;
        DirEntry entry;
        while (search.Next(entry)) {
            if (!DeleteTreeEntry(dir, clear_read_only, entry)) result = false;
        }
    }
    if (!result) return false;
    SetPathReadOnly(dir, false);
    return RemoveDir(dir);
}

bool DeleteTreeEntry(const std::wstring& dir, bool clear_read_only, const DirEntry& entry) {
    if (entry.name == L"." || entry.name == L"..") return true;
    std::wstring path = dir + kPathSeparator + entry.name;
    if (clear_read_only && (entry.attributes & kAttrReadOnly)) SetPathReadOnly(path, false);
    // A link is removed as it is: descending into it would delete what it
    // points to, which may lie anywhere.
    if (entry.attributes & kAttrReparsePoint) {
        return RemoveLink(path, (entry.attributes & kAttrDirectory) != 0);
    }
    if (entry.attributes & kAttrDirectory) return DeleteDirectoryTree(path, clear_read_only);
    return DeleteFilePath(path);
}

bool SetPathReadOnly(const std::wstring& path, bool read_only) {
    uint32_t attributes = 0;
    if (!GetPathAttributes(path, attributes)) return false;
    attributes = read_only ? (attributes | kAttrReadOnly) : (attributes & ~kAttrReadOnly);
    return SetPathAttributes(path, attributes);
}
