// The extraction attempt's context and its shared clean-up steps.
#include "sea/extract_context.h"

#include <ctime>

#include "platform/crypto_random.h"
#include "platform/directory.h"
#include "platform/temp_path.h"
#include "sea/dialog_state.h"
#include "sea/log.h"
#include "sea/run_marker.h"
#include "sea/run_state.h"

namespace {

int32_t CurrentSeconds() { return static_cast<int32_t>(std::time(nullptr)); }

// Without the cryptographic generator the seed still differs from run to
// run: the clock mixed with the address of a stack value.
uint32_t CryptoSeed() {
    uint32_t value = 0;
    if (GetCryptoRandom32(value)) return value;
    uintptr_t address = reinterpret_cast<uintptr_t>(&value);
    return static_cast<uint32_t>(std::time(nullptr)) ^ static_cast<uint32_t>(address) ^
           static_cast<uint32_t>(std::clock());
}

}  // namespace

WorkDirSources DefaultWorkDirSources() {
    WorkDirSources sources;
    sources.now = CurrentSeconds;
    sources.random_seed = CryptoSeed;
    sources.temp_folder = GetTempFolder;
    sources.fallback_folder = kFallbackTempFolder;
    sources.create_dir = CreateDirWithSecurity;
    sources.enter_dir = SetCurrentDir;
    return sources;
}

ExtractContext::ExtractContext() : sources(DefaultWorkDirSources()) {}

ExtractContext::~ExtractContext() {
    CloseOwnFile(*this);
    CloseWorkDirMarker(*this);
    ReleaseWorkDir(*this);
}

void RestoreStartingDir(ExtractContext& ctx) {
    if (!ctx.starting_dir.empty()) SetCurrentDir(ctx.starting_dir);
}

bool RemoveWorkDir(ExtractContext& ctx) {
    if (!ctx.work_dir_created || ctx.work_dir_full.empty()) return false;
    ReleaseWorkDir(ctx);
    if (WorkDirHoldsOnlyMarker(ctx)) {
        UnmarkWorkDir(ctx);
    } else {
        CloseWorkDirMarker(ctx);
    }
    return RemoveDir(ctx.work_dir_full);
}

void ReleaseWorkDir(ExtractContext& ctx) {
    CloseDirHandle(ctx.work_dir);
    ctx.work_dir = nullptr;
}

void CloseOwnFile(ExtractContext& ctx) { ctx.own_file = -1; }

bool EnterWorkDir(ExtractContext& ctx) { return ctx.sources.enter_dir(ctx.work_dir_path); }

AbortTestProbe g_abort_test_probe = nullptr;
AbortTestProbe g_abort_cleanup_probe = nullptr;

bool AbortRequested(ExtractContext& ctx, AbortCleanup cleanup) {
    if (g_abort_test_probe) g_abort_test_probe();
    if (!g_run.ExitInEffect) return false;
    switch (cleanup) {
    case AbortCleanup::kNone:
        break;
    case AbortCleanup::kRemove:
        RemoveWorkDir(ctx);
        break;
    case AbortCleanup::kRestoreRemove:
    case AbortCleanup::kCloseRestoreRemove:
        CloseOwnFile(ctx);
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        break;
    }
    WriteLog(L"User requested ABORT");
    return true;
}

int FailExtraction(ExtractContext& ctx, int32_t status) {
    AskForAnotherLocation(L"");
    RestoreStartingDir(ctx);
    RemoveWorkDir(ctx);
    WriteLog(L"*** FAILURE: Unable to unzip file: Error %d", status);
    return 0;
}
