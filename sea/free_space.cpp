// The free-space rule R = 3 x S against the volume's free bytes.
#include "sea/free_space.h"

#include "platform/disk_space.h"
#include "platform/format.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"

namespace {

constexpr size_t kMessageCapacity = 512;

// The failure paths of the rule: close the own file, restore, remove.
void CleanUp(ExtractContext& ctx) {
    CloseOwnFile(ctx);
    RestoreStartingDir(ctx);
    RemoveWorkDir(ctx);
}

}  // namespace

int GetFreeDiskSpace(uint64_t& free_bytes) {
    WriteLog(L"Checking free disk space");
    FreeSpaceMethod method = FreeSpaceMethod::kLibraryUnavailable;
    uint64_t bytes = 0;
    bool ok = QueryFreeDiskSpace(bytes, method);
    switch (method) {
    case FreeSpaceMethod::kLibraryUnavailable:
        return 0;
    case FreeSpaceMethod::kOldSystem:
        WriteLog(L"Old version of Windows detected (win95a): GetDiskFreeSpace()");
        break;
    case FreeSpaceMethod::kExtendedMissing:
        WriteLog(L"New version of Windows detected, but can't load latest functions: forced to use "
                 L"old GetDiskFreeSpace()");
        break;
    case FreeSpaceMethod::kExtended:
        WriteLog(L"New version of Windows detected: GetDiskFreeSpaceEx()");
        break;
    }
    // A query that failed has no answer; reporting some number as the free
    // space would pass or fail the rule at random.
    if (!ok) return 0;
    free_bytes = bytes;
    WriteLog(L"Free disk space: %llu Kilobytes", static_cast<unsigned long long>(bytes / 1024));
    return 1;
}

uint64_t RequiredSpace(int64_t compressed_size) {
    return 3u * static_cast<uint64_t>(compressed_size);
}

std::wstring NotEnoughSpaceMessage(uint64_t required, uint64_t available) {
    return FormatString(kMessageCapacity - 1,
                        L"*** FAILURE: Not enough free disk space available: Required disc space is "
                        L"%llu KB, available is %llu KB",
                        static_cast<unsigned long long>(required / 1024),
                        static_cast<unsigned long long>(available / 1024));
}

int CheckFreeSpace(ExtractContext& ctx) {
    uint64_t free_bytes = 0;
    if (!EnterWorkDir(ctx) || !GetFreeDiskSpace(free_bytes)) {
        ShowError(IDS_CANNOT_CHECK_SPACE);
        CleanUp(ctx);
        return 0;
    }
    return ApplyFreeSpaceRule(ctx, free_bytes);
}

int ApplyFreeSpaceRule(ExtractContext& ctx, uint64_t free_bytes) {
    WriteLog(L"Retrieved free disk space... ");
    if (AbortRequested(ctx, AbortCleanup::kCloseRestoreRemove)) return 0;
    WriteLog(L"Comparing free disk space... ");
    uint64_t required = RequiredSpace(ctx.compressed_size);
    if (required > free_bytes) {
        ShowError(IDS_NOT_ENOUGH_ROOM);
        CleanUp(ctx);
        WriteLog(L"%s", NotEnoughSpaceMessage(required, free_bytes).c_str());
        return 0;
    }
    CloseOwnFile(ctx);
    return 1;
}
