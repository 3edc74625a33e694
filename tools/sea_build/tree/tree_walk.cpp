#include "tools/sea_build/tree/tree_walk.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <utility>

#include "platform/directory_search.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tools/sea_build/tree/shown_name.h"
#include "tools/sea_build/tree/windows_names.h"

namespace {

constexpr int kMaxDepth = 128;
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

std::wstring ReadFailure(int error) {
    if (error == EACCES || error == EPERM) return L"cannot be read (permission denied)";
    if (error == ENOENT) return L"vanished while the tree was walked";
    return L"cannot be read (errno " + std::to_wstring(error) + L")";
}

class Walker {
public:
    Walker(const std::wstring& root, bool skip_unreadable, TreeWalk& walk)
        : root_(root), skip_unreadable_(skip_unreadable), walk_(walk) {}

    bool Start(std::wstring& error) {
        FileFacts facts;
        int code = 0;
        if (!QueryPathFacts(root_, true, facts, code) || facts.kind != FileKind::kDirectory) {
            error = L"not a directory: " + root_;
            return false;
        }
        std::vector<DirEntry> children;
        if (!List(L"", children)) {
            error = L"cannot read the directory " + root_;
            return false;
        }
        entered_[facts.identity] = L"";
        ancestors_.push_back(facts.identity);
        bool empty = true;
        WalkChildren(L"", children, 0, empty);
        return true;
    }

private:
    std::wstring Full(const std::wstring& relative) const {
        return relative.empty() ? root_ : root_ + kPathSeparator + relative;
    }

    bool List(const std::wstring& relative, std::vector<DirEntry>& children) {
        DirectorySearch search(WithTrailingSeparator(Full(relative)) + L"*");
        if (!search.started()) return false;
        DirEntry entry;
        while (search.Next(entry)) {
            if (entry.name != L"." && entry.name != L"..") children.push_back(entry);
        }
        SortByStoredName(children);
        return true;
    }

    // Adds what the directory at relative holds; empty stays true when
    // nothing was added.
    void WalkChildren(const std::wstring& relative, const std::vector<DirEntry>& children,
                      int depth, bool& empty) {
        for (const DirEntry& child : children) {
            const std::wstring name =
                child.bytes_not_utf8.empty() ? child.name : ShownBytes(child.bytes_not_utf8);
            const std::wstring path = relative.empty() ? name : relative + kPathSeparator + name;
            std::wstring fault = NameFault(child.name);
            if (child.name.find(L'\\') != std::wstring::npos && kPathSeparator != L'\\') {
                fault = L"the name holds a backslash, which Windows reads as a separator";
            }
            if (!child.bytes_not_utf8.empty()) {
                fault = L"the name is not valid UTF-8 (bad bytes shown as \\xHH); installer names "
                        L"are Unicode text";
            }
            if (!fault.empty()) {
                Problem(path, fault);  // never opened: on Windows AUX is a device
                empty = false;
                continue;
            }
            if (Visit(path, depth)) empty = false;
        }
    }

    // True when path keeps its folder from being an empty one: it went into
    // the items, or it is a problem (the build stops anyway).
    bool Visit(const std::wstring& path, int depth) {
        FileFacts link, facts;
        int error = 0;
        const bool is_link = QueryPathFacts(Full(path), false, link, error) && link.kind == FileKind::kLink;
        if (!QueryPathFacts(Full(path), true, facts, error)) {
            return Unreadable(path, is_link && error != EACCES
                                        ? L"a link that leads nowhere (broken link)"
                                        : ReadFailure(error));
        }
        switch (facts.kind) {
            case FileKind::kDirectory:
                return Enter(path, facts.identity, is_link, depth);
            case FileKind::kRegular:
                return AddFile(path, facts);
            case FileKind::kLink:
            case FileKind::kSpecial:
                break;
        }
        return Unreadable(path, L"a named pipe, socket or device, which an installer cannot hold");
    }

    bool Enter(const std::wstring& path, const FileIdentity& identity, bool is_link, int depth) {
        const auto seen = entered_.find(identity);
        if (seen != entered_.end()) {
            const bool cycle = std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end();
            const std::wstring where = seen->second.empty() ? L"the top of the tree" : seen->second;
            if (cycle) {
                Problem(path, (is_link ? L"a link back to " : L"the same folder as ") + where +
                                  L", a folder above it: a cycle");
            } else {
                Problem(path, (is_link ? L"a link to the folder packed as " : L"the same folder as ") +
                                  where + L": every folder goes into the installer once");
            }
            return true;
        }
        entered_[identity] = path;
        if (depth >= kMaxDepth) {
            Problem(path, L"folders nest deeper than " + std::to_wstring(kMaxDepth) + L" levels");
            return true;
        }
        std::vector<DirEntry> children;
        if (!List(path, children)) return Unreadable(path, L"the folder cannot be read");
        ancestors_.push_back(identity);
        bool empty = true;
        WalkChildren(path, children, depth + 1, empty);
        ancestors_.pop_back();
        if (empty) walk_.items.push_back({path, true, 0, identity});
        return true;
    }

    // A file goes in when it can be opened for reading and is still the
    // regular file it was a moment ago.
    bool AddFile(const std::wstring& path, const FileFacts& facts) {
        if (facts.size >= kMaxFileSize) {
            Problem(path, L"a file of 2 GB or more, which an installer cannot hold");
            return true;
        }
        int error = 0;
        const int fd = FileOpenRead(Full(path).c_str(), &error);
        if (fd < 0) return Unreadable(path, ReadFailure(error));
        FileFacts opened;
        const bool same = QueryDescriptorFacts(fd, opened, error) && opened.kind == FileKind::kRegular &&
                          opened.identity == facts.identity;
        FileClose(fd);
        if (!same) return Unreadable(path, L"was replaced while the tree was walked");
        walk_.items.push_back({path, false, facts.size, facts.identity});
        walk_.total_bytes += facts.size;
        return true;
    }

    // Unreadable and special entries: problems, or skipped when asked to.
    bool Unreadable(const std::wstring& path, const std::wstring& reason) {
        (skip_unreadable_ ? walk_.skipped : walk_.problems).push_back({path, reason});
        return !skip_unreadable_;
    }

    void Problem(const std::wstring& path, const std::wstring& reason) {
        walk_.problems.push_back({path, reason});
    }

    const std::wstring root_;
    const bool skip_unreadable_;
    TreeWalk& walk_;
    std::map<FileIdentity, std::wstring> entered_;  // every folder entered, by its first path
    std::vector<FileIdentity> ancestors_;           // the folders above the current one
};

}  // namespace

bool WalkTree(const std::wstring& root, bool skip_unreadable, TreeWalk& walk, std::wstring& error) {
    error.clear();
    return Walker(root, skip_unreadable, walk).Start(error);
}
