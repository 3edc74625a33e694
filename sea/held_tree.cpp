// Extraction into a held working directory: each entry walks down from the
// held root, one held folder at a time.
#include "sea/held_tree.h"

#include <cerrno>
#include <new>
#include <vector>

TreeEntryProbe g_tree_entry_probe = nullptr;

namespace {

// The components of a relative name; "." and empty ones are skipped.
// False for ".." (a way out of the tree).
bool SplitName(const std::wstring& relative, std::vector<std::wstring>& parts) {
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find_first_of(L"/\\", start);
        if (end == std::wstring::npos) end = relative.size();
        std::wstring part = relative.substr(start, end - start);
        if (part == L"..") return false;
        if (!part.empty() && part != L".") parts.push_back(part);
        start = end + 1;
    }
    return true;
}

}  // namespace

// The held folders of one walk, closed when it ends.
class TreeWalk {
public:
    explicit TreeWalk(const DirHandle* root, bool create = true) : current_(root), create_(create) {}
    ~TreeWalk() {
        for (DirHandle* dir : held_) CloseDirHandle(dir);
    }
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    // Makes (or opens) the folder `name` below the current one and enters
    // it. False with *error set when it is no plain folder of the tree.
    bool Enter(const std::wstring& name, int* error) {
        DirHandle* child = nullptr;
        const ChildOpenResult result =
            create_ ? CreateChildDir(current_, name, &child) : OpenChildDir(current_, name, &child);
        switch (result) {
        case ChildOpenResult::kOpened:
            held_.push_back(child);
            current_ = child;
            return true;
        case ChildOpenResult::kNotDirectory:
            *error = ENOTDIR;
            return false;
        case ChildOpenResult::kFailed:
            break;
        }
        *error = EACCES;
        return false;
    }
    const DirHandle* current() const { return current_; }

private:
    const DirHandle* current_;
    bool create_;
    std::vector<DirHandle*> held_;
};

int HeldTree::CreateFile(const std::wstring& relative, int* error) const {
    std::vector<std::wstring> parts;
    const bool ends_in_separator = !relative.empty() && (relative.back() == L'/' || relative.back() == L'\\');
    if (!SplitName(relative, parts) || parts.empty() || ends_in_separator) {
        *error = EINVAL;
        return -1;
    }
    if (!root_) {
        *error = EBADF;
        return -1;
    }
    ThreadLockHold hold(lock_);
    TreeWalk walk(root_);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (!walk.Enter(parts[i], error)) return -1;
    }
    return CreateChildFile(walk.current(), parts.back(), error);
}

bool HeldTree::CreateFolders(const std::wstring& relative) const {
    const size_t last = relative.find_last_of(L"/\\");
    if (last == std::wstring::npos) return true;
    std::vector<std::wstring> parts;
    if (!root_ || !SplitName(relative.substr(0, last), parts)) return false;
    ThreadLockHold hold(lock_);
    TreeWalk walk(root_);
    int error = 0;
    for (const std::wstring& part : parts) {
        if (!walk.Enter(part, &error)) return false;
    }
    return true;
}

HeldTreeFile::HeldTreeFile(const HeldTree* tree, const wchar_t* name, int32_t buffer_size, ALNameCase mode)
    : ALFile(name, buffer_size, mode), tree_(tree) {}

ALStorage* HeldTreeFile::Clone(const wchar_t* name, int32_t type) const {
    if (type != AL_STORAGE_DEFAULT && type != AL_STORAGE_FILE) return nullptr;
    return new (std::nothrow) HeldTreeFile(tree_, name, kDefaultBufferSize, NameCaseIgnore);
}

bool HeldTreeFile::CreateParentDirectories() {
    const std::wstring path = GetName();
    if (path.empty()) return false;
    if (g_tree_entry_probe) g_tree_entry_probe(path.c_str());
    if (!tree_->CreateFolders(path)) return false;
    return path.back() != L'/' && path.back() != L'\\';
}

int HeldTreeFile::OpenForWriting(int* error) {
    if (g_tree_entry_probe) g_tree_entry_probe(GetName());
    return tree_->CreateFile(GetName(), error);
}

HeldTreeEntry::~HeldTreeEntry() {
    ReleaseHeldFile(file_);
    delete walk_;
}

bool HeldTreeEntry::Hold(const DirHandle* root, const std::wstring& relative) {
    std::vector<std::wstring> parts;
    if (!root || walk_ || !SplitName(relative, parts) || parts.empty()) return false;
    walk_ = new (std::nothrow) TreeWalk(root, false);
    if (!walk_) return false;
    int error = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (!walk_->Enter(parts[i], &error)) return false;
    }
    file_ = HoldChildFile(walk_->current(), parts.back());
    return file_ != nullptr;
}
