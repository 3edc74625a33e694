// The running program's own file, opened once and compared with the image
// the process was started from.
//
// A running program's file can be renamed (on Windows as well), so that its
// path may name another file by the time the program opens it. The program
// therefore opens its file once, as early as it can, keeps that descriptor
// for every later read, and checks that it is the running image.
#pragma once

#include <string>

enum class OwnImageMatch {
    kSame,       // the open file is the running image
    kUnknown,    // this system cannot tell (detail says why): the file is held
    kDifferent,  // the open file is not the running image (detail names both)
};

struct OwnImage {
    int descriptor = -1;  // platform/file_io.h descriptor; -1 when the open failed
    int error = 0;        // errno value of a failed open
    OwnImageMatch match = OwnImageMatch::kUnknown;
    std::wstring detail;
};

// Opens path for reading with no write or delete sharing (Windows:
// CreateFileW sharing reads only, so that the file cannot be renamed,
// replaced or changed while it is open; POSIX: O_RDONLY | O_CLOEXEC,
// never waiting on a named pipe) and compares it with the running image:
// Windows: the process's image file mapping (ProcessImageFileMapping),
// else the names that the file system gives the mapped image and the open
// file at this moment (equal names prove one file, because the open file
// cannot be renamed); POSIX: device and inode of /proc/self/exe.
// False when the file cannot be opened (image.error set). A descriptor
// that is returned stays open until CloseOwnImage.
bool OpenOwnImage(const std::wstring& path, OwnImage& image);
void CloseOwnImage(OwnImage& image);
