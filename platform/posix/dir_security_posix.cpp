// Working-directory access control on POSIX: the superuser stands for the
// elevated administrator, and the protected access list becomes a
// directory only its owner can use.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dir_security.h"
#include "platform/text.h"

AdminCheck CheckElevatedAdmin() { return AdminCheck{geteuid() == 0, 11}; }

struct DirSecurity {
    mode_t mode;
};

DirSecurity* BuildDirSecurity() { return new DirSecurity{0700}; }
DirSecurity* BuildPrivateDirSecurity() { return new DirSecurity{0700}; }
void FreeDirSecurity(DirSecurity* security) { delete security; }

DirCreateResult CreateDirWithSecurity(const std::wstring& path, const DirSecurity* security) {
    std::string native = WideToUtf8(path);
    if (mkdir(native.c_str(), security ? security->mode : 0777) == 0) {
        // mkdir's mode passes through the umask, which can only narrow it;
        // set it exactly so that nobody else gets in whatever the umask.
        // Through the directory itself: a link put in its place since is
        // never followed.
        int fd = security ? open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        if (fd >= 0) {
            fchmod(fd, security->mode);
            close(fd);
        }
        return DirCreateResult::kCreated;
    }
    return errno == EEXIST ? DirCreateResult::kAlreadyExists : DirCreateResult::kFailed;
}

bool ReadDirAccess(const std::wstring& path, DirAccess& access) {
    struct stat st;
    if (stat(WideToUtf8(path).c_str(), &st) != 0) return false;
    access = DirAccess();
    access.mode = st.st_mode & 07777;
    access.is_protected = (st.st_mode & 077) == 0;
    return true;
}

bool DescribeDirSecurity(const DirSecurity* security, DirAccess& access) {
    if (!security) return false;
    access = DirAccess();
    access.mode = security->mode;
    access.is_protected = (security->mode & 077) == 0;
    return true;
}
