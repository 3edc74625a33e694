// The own file on POSIX: held through a descriptor and compared with
// /proc/self/exe, which names the running image whatever its path now is.
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
    if (held.kind == FileKind::kRegular && held.identity == running.identity) {
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
