// The own file on POSIX: held through a descriptor and compared with
// /proc/self/exe, which names the running image whatever its path now is,
// or, where a loader runs the program (valgrind: /proc/self/exe is the
// loader), with the files this process has mapped as code.
#include <sys/sysmacros.h>

#include <cinttypes>
#include <cstdio>

#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/format.h"
#include "platform/own_image.h"

namespace {

constexpr size_t kDetailLength = 200;
constexpr wchar_t kRunningImage[] = L"/proc/self/exe";

std::wstring Describe(const FileIdentity& id) {
    return FormatString(kDetailLength, L"device %llu inode %llu",
                        static_cast<unsigned long long>(id.volume),
                        static_cast<unsigned long long>(id.index));
}

// True when a file of this identity is mapped executable in this process.
bool MappedAsCode(const FileIdentity& id) {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return false;
    char line[4096];
    bool found = false;
    while (!found && std::fgets(line, sizeof(line), maps)) {
        char perms[8] = {};
        unsigned int major_id = 0, minor_id = 0;
        uint64_t inode = 0;
        if (std::sscanf(line, "%*x-%*x %7s %*x %x:%x %" SCNu64, perms, &major_id,
                        &minor_id, &inode) == 4) {
            found = perms[2] == 'x' && inode == id.index &&
                    makedev(major_id, minor_id) == static_cast<dev_t>(id.volume);
        }
    }
    std::fclose(maps);
    return found;
}

}  // namespace

bool OpenOwnImage(const std::wstring& path, OwnImage& image) {
    image = OwnImage();
    image.descriptor = FileOpenRead(path.c_str(), &image.error);
    if (image.descriptor == -1) return false;
    FileFacts held;
    FileFacts running;
    int error = 0;
    if (!QueryDescriptorFacts(image.descriptor, held, error) ||
        !QueryPathFacts(kRunningImage, true, running, error)) {
        image.detail = FormatString(kDetailLength, L"%s cannot be read (errno %d)", kRunningImage,
                                    error);
        return true;
    }
    if (held.kind == FileKind::kRegular &&
        (held.identity == running.identity || MappedAsCode(held.identity))) {
        image.match = OwnImageMatch::kSame;
        return true;
    }
    image.match = OwnImageMatch::kDifferent;
    image.detail = L"the open file is " + Describe(held.identity) + L", the running image " +
                   Describe(running.identity);
    return true;
}

void CloseOwnImage(OwnImage& image) {
    if (image.descriptor != -1) FileClose(image.descriptor);
    image.descriptor = -1;
}
