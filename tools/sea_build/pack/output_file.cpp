#include "tools/sea_build/pack/output_file.h"

#include "platform/directory_search.h"
#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "platform/file_stream.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "tools/sea_build/tree/shown_name.h"

namespace {

constexpr int kMaxTemporaries = 1000;
constexpr int kErrorExists = 17;  // EEXIST, the same number on every system
const wchar_t kTemporaryInfix[] = L".~";
const wchar_t kTemporarySuffix[] = L".tmp";

// Whether name is "<output_name>.~N.tmp" with N digits.
bool IsTemporaryName(const std::wstring& output_name, const std::wstring& name) {
    const std::wstring prefix = output_name + kTemporaryInfix;
    const std::wstring suffix = kTemporarySuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    for (size_t i = prefix.size(); i < name.size() - suffix.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') return false;
    }
    return true;
}

}  // namespace

OutputFile::~OutputFile() {
    InterruptHold hold;
    for (const std::wstring& path : temporaries_) {
        DeleteFilePath(path);
        ForgetTemporaryFile(path);
    }
}

bool OutputFile::NewTemporary(std::wstring& path, std::wstring& error) {
    // Created and registered in one step: an interrupt removes it.
    InterruptHold hold;
    if (InterruptRequested()) {
        error = L"interrupted";
        return false;
    }
    int last_error = 0;
    for (int n = 0; n < kMaxTemporaries; ++n) {
        const std::wstring candidate = output_ + kTemporaryInfix + std::to_wstring(n) + kTemporarySuffix;
        const int fd = FileCreateExclusive(candidate.c_str(), &last_error);
        if (fd == -1) {
            if (last_error == kErrorExists) continue;  // taken: try the next number
            break;
        }
        FileClose(fd);
        TrackTemporaryFile(candidate);
        temporaries_.push_back(candidate);
        path = candidate;
        return true;
    }
    error = L"cannot create a temporary file beside " + output_ + L" (errno " +
            std::to_wstring(last_error) + L")";
    return false;
}

bool OutputFile::Commit(const std::wstring& path, std::wstring& error) {
    // Either the installer is complete at the output's name, or an
    // interrupt removes it with the other temporary files: never both.
    InterruptHold hold;
    if (InterruptRequested()) {
        error = L"interrupted";
        return false;
    }
    if (!ReplaceFileWith(path, output_)) {
        error = L"cannot write " + output_ + L" (is it a directory, read-only or in use?)";
        return false;
    }
    ForgetTemporaryFile(path);
    SetInterruptMessage(L"sea-build: interrupted after writing " + ShownName(output_) + L"\n");
    for (size_t i = 0; i < temporaries_.size(); ++i) {
        if (temporaries_[i] == path) {
            temporaries_.erase(temporaries_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    return true;
}

std::vector<std::wstring> OutputFile::ExistingTemporaries(const std::wstring& output) {
    const PathParts parts = SplitPath(output);
    const std::wstring directory = parts.drive + parts.directory;
    std::vector<std::wstring> found;
    DirectorySearch search((directory.empty() ? std::wstring(L".") + kPathSeparator : directory) +
                           L"*");
    DirEntry entry;
    while (search.started() && search.Next(entry)) {
        if (IsTemporaryName(parts.name + parts.extension, entry.name)) {
            found.push_back(directory + entry.name);
        }
    }
    return found;
}
