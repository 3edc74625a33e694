// Directory search through FindFirstFileW / FindNextFileW.
#include <windows.h>

#include "platform/directory_search.h"

struct DirectorySearch::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW first = {};
    bool first_pending = false;
};

DirectorySearch::DirectorySearch(const std::wstring& pattern) : impl_(new Impl) {
    impl_->handle = FindFirstFileW(pattern.c_str(), &impl_->first);
    impl_->first_pending = impl_->handle != INVALID_HANDLE_VALUE;
}

DirectorySearch::~DirectorySearch() {
    if (impl_->handle != INVALID_HANDLE_VALUE) FindClose(impl_->handle);
    delete impl_;
}

bool DirectorySearch::started() const { return impl_->handle != INVALID_HANDLE_VALUE; }

bool DirectorySearch::Next(DirEntry& entry) {
    if (impl_->handle == INVALID_HANDLE_VALUE) return false;
    WIN32_FIND_DATAW data;
    if (impl_->first_pending) {
        data = impl_->first;
        impl_->first_pending = false;
    } else if (!FindNextFileW(impl_->handle, &data)) {
        return false;
    }
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
    return true;
}
