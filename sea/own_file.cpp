// The own-file check: the program's file can be opened and read, and its
// size past the first 2048 bytes is the compressed size S on which the
// free-space rule rests. The archive itself is found later by the ZIP
// reader; nothing here looks at the payload.
#include "sea/own_file.h"

#include "platform/file_stream.h"
#include "platform/path.h"
#include "platform/stream_seek.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"

namespace {

// 1024 units of two bytes are read from the start of the file; fewer than
// four units mean there is nothing worth extracting.
constexpr size_t kHeadUnits = 1024;
constexpr size_t kMinimumUnits = 4;

// File length less the current position; the position is kept.
bool ComputeCompressedSize(FILE* file, int64_t& size) {
    int64_t position = StreamTell(file);
    if (position < 0 || !StreamSeek(file, 0, SEEK_END)) return false;
    int64_t length = StreamTell(file);
    if (length < 0 || !StreamSeek(file, position, SEEK_SET)) return false;
    size = length - position;
    return true;
}

}  // namespace

std::wstring LauncherFolder32() { return std::wstring(L"Windows") + kPathSeparator; }
std::wstring LauncherFolder64() { return std::wstring(L"Windows_Pure_64_Bit") + kPathSeparator; }

int CheckOwnFile(ExtractContext& ctx, const std::wstring& own_path) {
    ctx.own_path = own_path;
    PathParts parts = SplitPath(own_path);
    ctx.own_name = parts.name;
    ctx.own_extension = parts.extension;

    ctx.own_file = OpenStream(own_path, "rb");
    if (AbortRequested(ctx, AbortCleanup::kRestoreRemove)) return 0;
    if (!ctx.own_file) {
        WriteLog(L"*** FAILURE: Unable to extract the compressed file");
        ShowError(IDS_CANNOT_EXTRACT);
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        return 0;
    }

    unsigned char head[kHeadUnits * 2];
    size_t units = std::fread(head, 2, kHeadUnits, ctx.own_file);
    ctx.launcher = ctx.work_dir_path + LauncherFolder32() + ctx.own_name + ctx.own_extension;

    if (AbortRequested(ctx, AbortCleanup::kCloseRestoreRemove)) return 0;
    int64_t size = 0;
    if (units < kMinimumUnits || !ComputeCompressedSize(ctx.own_file, size)) {
        WriteLog(L"*** FAILURE: There is no EXE name buffer to be found.");
        ShowError(IDS_NO_EXE_NAME_BUFFER);
        CloseOwnFile(ctx);
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        return 0;
    }
    ctx.compressed_size = size;
    return 1;
}
