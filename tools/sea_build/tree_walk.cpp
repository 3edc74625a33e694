#include "tools/sea_build/tree_walk.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <utility>

#include "platform/directory_search.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

constexpr int kMaxDepth = 64;
constexpr int64_t kMaxFileSize = int64_t{1} << 31;

// Orders the entries of one directory by their names' UTF-8 bytes, which
// is the order of their code points: the same on every system, whatever
// order the file system lists them in and whether wchar_t holds UTF-16 or
// UTF-32 (where a comparison of the wide strings would put characters
// beyond U+FFFF in different places).
void SortByStoredName(std::vector<DirEntry>& children) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(children.size());
    for (size_t i = 0; i < children.size(); ++i) keys.emplace_back(WideToUtf8(children[i].name), i);
    std::sort(keys.begin(), keys.end());
    std::vector<DirEntry> sorted;
    sorted.reserve(children.size());
    for (const auto& key : keys) sorted.push_back(children[key.second]);
    children.swap(sorted);
}

class Walker {
public:
    Walker(const std::wstring& root, TreeWalk& walk, std::wstring& error)
        : root_(root), walk_(walk), error_(error) {}

    // Adds what lies below relative (empty: the root); sets empty when the
    // directory holds nothing that was added.
    bool Walk(const std::wstring& relative, int depth, bool& empty) {
        if (depth > kMaxDepth) {
            return Fail(L"directories nest deeper than 64 levels (a link loop?) at " + relative);
        }
        std::vector<DirEntry> children;
        if (!List(relative, children)) return false;
        empty = true;
        for (const DirEntry& child : children) {
            const std::wstring path = relative.empty() ? child.name : relative + kPathSeparator + child.name;
            if (child.name.find(L'\\') != std::wstring::npos && kPathSeparator != L'\\') {
                return Fail(L"a file name holds a backslash, which Windows cannot create: " + path);
            }
            if (child.attributes & kAttrDirectory) {
                bool child_empty = false;
                if (!Walk(path, depth + 1, child_empty)) return false;
                if (child_empty) walk_.items.push_back({path, true, 0});
                empty = false;
            } else if (AddFile(path)) {
                empty = false;
            } else if (!error_.empty()) {
                return false;
            }
        }
        return true;
    }

private:
    std::wstring Full(const std::wstring& relative) const {
        return relative.empty() ? root_ : root_ + kPathSeparator + relative;
    }

    bool List(const std::wstring& relative, std::vector<DirEntry>& children) {
        DirectorySearch search(WithTrailingSeparator(Full(relative)) + L"*");
        if (!search.started()) return Fail(L"cannot read the directory " + Full(relative));
        DirEntry entry;
        while (search.Next(entry)) {
            if (entry.name != L"." && entry.name != L"..") children.push_back(entry);
        }
        SortByStoredName(children);
        return true;
    }

    // False without an error for a link that leads nowhere (skipped).
    bool AddFile(const std::wstring& path) {
        int64_t size = 0;
        std::tm modified{};
        int error = 0;
        if (!FileStatByName(Full(path).c_str(), &size, &modified, &error)) {
            walk_.warnings.push_back(L"skipped (cannot be read, a broken link?): " + path);
            return false;
        }
        if (size >= kMaxFileSize) {
            Fail(L"a file of 2 GB or more cannot go into an installer: " + path);
            return false;
        }
        walk_.items.push_back({path, false, size});
        walk_.total_bytes += size;
        return true;
    }

    bool Fail(const std::wstring& message) {
        error_ = message;
        return false;
    }

    const std::wstring root_;
    TreeWalk& walk_;
    std::wstring& error_;
};

}  // namespace

bool WalkTree(const std::wstring& root, TreeWalk& walk, std::wstring& error) {
    error.clear();
    if (!IsDirectoryPath(root)) {
        error = L"not a directory: " + root;
        return false;
    }
    bool empty = false;
    return Walker(root, walk, error).Walk(L"", 0, empty);
}
