// Directory search with Windows-style patterns on POSIX.
#include <dirent.h>
#include <strings.h>

#include "platform/directory_search.h"
#include "platform/file_attributes.h"
#include "platform/text.h"

namespace {

// "*" matches everything; "*.ext" names ending in ".ext" (any letter case,
// as Windows matches); anything else must match exactly.
bool MatchesPattern(const std::string& name, const std::string& mask) {
    if (mask == "*" || mask == "*.*") return true;
    if (mask.size() >= 2 && mask[0] == '*' && mask.find('*', 1) == std::string::npos) {
        std::string tail = mask.substr(1);
        return name.size() >= tail.size() &&
               strcasecmp(name.c_str() + name.size() - tail.size(), tail.c_str()) == 0;
    }
    return name == mask;
}

}  // namespace

struct DirectorySearch::Impl {
    DIR* dir = nullptr;
    std::wstring directory;  // with its trailing separator
    std::string mask;
};

DirectorySearch::DirectorySearch(const std::wstring& pattern) : impl_(new Impl) {
    size_t sep = pattern.find_last_of(L'/');
    std::wstring directory = sep == std::wstring::npos ? L"./" : pattern.substr(0, sep + 1);
    impl_->directory = directory;
    impl_->mask = WideToUtf8(sep == std::wstring::npos ? pattern : pattern.substr(sep + 1));
    impl_->dir = opendir(WideToUtf8(directory).c_str());
}

DirectorySearch::~DirectorySearch() {
    if (impl_->dir) closedir(impl_->dir);
    delete impl_;
}

bool DirectorySearch::started() const { return impl_->dir != nullptr; }

bool DirectorySearch::Next(DirEntry& entry) {
    if (!impl_->dir) return false;
    while (dirent* d = readdir(impl_->dir)) {
        std::string name = d->d_name;
        if (!MatchesPattern(name, impl_->mask)) continue;
        entry.name = Utf8ToWide(name);
        entry.bytes_not_utf8 = WideToUtf8(entry.name) == name ? std::string() : name;
        if (!GetPathAttributes(impl_->directory + entry.name, entry.attributes)) entry.attributes = 0;
        return true;
    }
    return false;
}
