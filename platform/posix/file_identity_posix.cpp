// File kinds and identities from stat, lstat and fstat.
#include <errno.h>
#include <sys/stat.h>

#include "platform/file_identity.h"
#include "platform/text.h"

namespace {

void FromStat(const struct stat& st, FileFacts& facts) {
    if (S_ISREG(st.st_mode)) {
        facts.kind = FileKind::kRegular;
    } else if (S_ISDIR(st.st_mode)) {
        facts.kind = FileKind::kDirectory;
    } else if (S_ISLNK(st.st_mode)) {
        facts.kind = FileKind::kLink;
    } else {
        facts.kind = FileKind::kSpecial;
    }
    facts.size = facts.kind == FileKind::kRegular ? static_cast<int64_t>(st.st_size) : 0;
    facts.identity.volume = static_cast<uint64_t>(st.st_dev);
    facts.identity.index = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

bool QueryPathFacts(const std::wstring& path, bool follow_links, FileFacts& facts, int& error) {
    struct stat st;
    const std::string native = WideToUtf8(path);
    if ((follow_links ? stat(native.c_str(), &st) : lstat(native.c_str(), &st)) != 0) {
        error = errno;
        return false;
    }
    FromStat(st, facts);
    return true;
}

bool QueryDescriptorFacts(int fd, FileFacts& facts, int& error) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = errno;
        return false;
    }
    FromStat(st, facts);
    return true;
}
