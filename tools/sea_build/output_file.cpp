#include "tools/sea_build/output_file.h"

#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "platform/file_stream.h"

namespace {

constexpr int kMaxTemporaries = 1000;
constexpr int kErrorExists = 17;  // EEXIST, the same number on every system
const wchar_t kTemporaryInfix[] = L".~";
const wchar_t kTemporarySuffix[] = L".tmp";

}  // namespace

OutputFile::~OutputFile() {
    for (const std::wstring& path : temporaries_) DeleteFilePath(path);
}

bool OutputFile::NewTemporary(std::wstring& path, std::wstring& error) {
    int last_error = 0;
    for (int n = 0; n < kMaxTemporaries; ++n) {
        const std::wstring candidate = output_ + kTemporaryInfix + std::to_wstring(n) + kTemporarySuffix;
        const int fd = FileCreateExclusive(candidate.c_str(), &last_error);
        if (fd == -1) {
            if (last_error == kErrorExists) continue;  // taken: try the next number
            break;
        }
        FileClose(fd);
        temporaries_.push_back(candidate);
        path = candidate;
        return true;
    }
    error = L"cannot create a temporary file beside " + output_ + L" (errno " +
            std::to_wstring(last_error) + L")";
    return false;
}

bool OutputFile::Commit(const std::wstring& path, std::wstring& error) {
    if (!ReplaceFileWith(path, output_)) {
        error = L"cannot write " + output_ + L" (is it a directory, read-only or in use?)";
        return false;
    }
    for (size_t i = 0; i < temporaries_.size(); ++i) {
        if (temporaries_[i] == path) {
            temporaries_.erase(temporaries_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    return true;
}

bool OutputFile::IsTemporaryOf(const std::wstring& output, const std::wstring& path) {
    const std::wstring prefix = output + kTemporaryInfix;
    const std::wstring suffix = kTemporarySuffix;
    if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    for (size_t i = prefix.size(); i < path.size() - suffix.size(); ++i) {
        if (path[i] < L'0' || path[i] > L'9') return false;
    }
    return true;
}
