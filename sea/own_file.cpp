// The own-file check: the program's file is the running image and can be
// read, and its size past the first 2048 bytes is the compressed size S on
// which the free-space rule rests. The archive itself is found later by
// the ZIP reader; nothing here looks at the payload.
#include "sea/own_file.h"

#include "platform/file_io.h"
#include "platform/module.h"
#include "platform/path.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"
#include "sea/run_state.h"

namespace {

// 1024 units of two bytes are read from the start of the file; fewer than
// four units mean there is nothing worth extracting.
constexpr size_t kHeadUnits = 1024;
constexpr size_t kMinimumUnits = 4;

// Reads up to count bytes from the first byte on; the count read, or -1.
int32_t ReadHead(int fd, unsigned char* head, uint32_t count) {
    int error = 0;
    if (!FileSeek(fd, 0, &error)) return -1;
    uint32_t total = 0;
    while (total < count) {
        const int32_t n = FileRead(fd, head + total, count - total, &error);
        if (n < 0) return -1;
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(total);
}

// The lines of the comparison with the running image; a file that matches
// adds none.
void LogImageCheck(const OwnImage& held) {
    if (held.descriptor == -1) return;
    if (held.match == OwnImageMatch::kDifferent) {
        WriteLog(L"*** The installer's file is not the running program: %s", held.detail.c_str());
    } else if (held.match == OwnImageMatch::kUnknown) {
        WriteLog(L"The installer's file is held from start-up, but it cannot be compared with the "
                 L"running program: %s",
                 held.detail.c_str());
    }
}

}  // namespace

OwnFileProbe g_own_file_probe = nullptr;

void HoldOwnFile() {
    g_run.own_path = GetOwnModulePath();
    if (g_own_file_probe) g_own_file_probe(OwnFileStep::kPathTaken);
    CloseOwnImage(g_run.own_image);
    if (!g_run.own_path.empty()) OpenOwnImage(g_run.own_path, g_run.own_image);
    if (g_own_file_probe) g_own_file_probe(OwnFileStep::kHeld);
}

void ReleaseOwnFile() { CloseOwnImage(g_run.own_image); }

std::wstring LauncherFolder32() { return std::wstring(L"Windows") + kPathSeparator; }
std::wstring LauncherFolder64() { return std::wstring(L"Windows_Pure_64_Bit") + kPathSeparator; }

int CheckOwnFile(ExtractContext& ctx, const std::wstring& own_path, const OwnImage& held) {
    ctx.own_path = own_path;
    PathParts parts = SplitPath(own_path);
    ctx.own_name = parts.name;
    ctx.own_extension = parts.extension;

    const bool usable = held.descriptor != -1 && held.match != OwnImageMatch::kDifferent;
    ctx.own_file = usable ? held.descriptor : -1;
    if (AbortRequested(ctx, AbortCleanup::kRestoreRemove)) return 0;
    LogImageCheck(held);
    if (!usable) {
        WriteLog(L"*** FAILURE: Unable to extract the compressed file");
        ShowError(IDS_CANNOT_EXTRACT);
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        return 0;
    }

    unsigned char head[kHeadUnits * 2];
    const int32_t read = ReadHead(ctx.own_file, head, sizeof(head));
    ctx.launcher = ctx.work_dir_path + LauncherFolder32() + ctx.own_name + ctx.own_extension;

    if (AbortRequested(ctx, AbortCleanup::kCloseRestoreRemove)) return 0;
    const int64_t length = read < 0 ? -1 : FileLength(ctx.own_file);
    if (read < 0 || static_cast<size_t>(read) / 2 < kMinimumUnits || length < read) {
        WriteLog(L"*** FAILURE: There is no EXE name buffer to be found.");
        ShowError(IDS_NO_EXE_NAME_BUFFER);
        CloseOwnFile(ctx);
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        return 0;
    }
    ctx.compressed_size = length - read;
    return 1;
}
