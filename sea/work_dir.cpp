// Base folder, creation of the working directory and its access control.
#include "sea/work_dir.h"

#include <memory>
#include <random>

#include "platform/dir_handle.h"
#include "platform/directory.h"
#include "platform/format.h"
#include "platform/path.h"
#include "sea/dialog_state.h"
#include "sea/log.h"
#include "sea/run_marker.h"
#include "sea/run_state.h"
#include "sea/scavenge.h"

namespace {

// Set once the security could not be built; the rest of the run then
// creates working directories with default security.
bool g_security_failed = false;

struct SecurityDeleter {
    void operator()(DirSecurity* security) const { FreeDirSecurity(security); }
};
using SecurityHolder = std::unique_ptr<DirSecurity, SecurityDeleter>;

std::wstring WorkDirName(int32_t number) { return FormatString(32, L"I%ld", number); }

class NameSource {
public:
    explicit NameSource(uint32_t seed) : random_(seed), draw_(kRandomNameLow, kRandomNameHigh) {}
    std::wstring Next() { return WorkDirName(draw_(random_)); }

private:
    std::mt19937 random_;
    std::uniform_int_distribution<int32_t> draw_;
};

// The fallback folder, entered, else created and entered.
int EnterFallbackFolder(ExtractContext& ctx) {
    const std::wstring& folder = ctx.sources.fallback_folder;
    if (!SetCurrentDir(folder)) {
        if (!CreateDir(folder)) {
            AskForTempLocation();
            WriteLog(L"*** FAILURE: Unable to create a working directory!");
            return 0;
        }
        if (!SetCurrentDir(folder)) {
            AskForTempLocation();
            WriteLog(L"*** FAILURE: Unable to access the working directory!");
            return 0;
        }
    }
    std::wstring current;
    if (!GetCurrentDir(current)) current = folder;
    ctx.base_folder = current + kPathSeparator;
    return 1;
}

// The creation attempts. Returns true when ctx.work_dir_name was
// created. A collision draws a new name (six collisions end the attempts);
// the first other failure retries once under a new name; a second one ends
// them. The retry drops the access control (secured) only when the system refused
// the access list itself: anyone who can write to the base folder can make
// a name fail (a file whose deletion is pending answers "access denied"),
// and that must not buy them a working directory they can write into.
bool CreateUniqueDirectory(ExtractContext& ctx, NameSource& names, SecurityHolder& security,
                           bool& secured) {
    int collisions = 0;
    bool first_other_failure = true;
    while (collisions <= 5) {
        DirCreateResult result =
            ctx.sources.create_dir(ctx.work_dir_name, secured ? security.get() : nullptr);
        if (result == DirCreateResult::kCreated) return true;
        if (result == DirCreateResult::kAlreadyExists) {
            ctx.work_dir_name = names.Next();
            ++collisions;
        } else if (first_other_failure) {
            first_other_failure = false;
            if (result == DirCreateResult::kSecurityRefused) {
                secured = false;
                security.reset();
            }
            RemoveDir(ctx.work_dir_name);
            ctx.work_dir_name = names.Next();
        } else {
            return false;
        }
    }
    return false;
}

// True when others than the user, LocalSystem and Administrators may make
// or change entries in the current directory (the base folder).
bool BaseFolderIsShared() {
    DirHandle* base = OpenDirHandle(L".", true);
    if (!base) return false;
    const bool shared = LetsOthersChange(base);
    CloseDirHandle(base);
    return shared;
}

}  // namespace

int ChooseBaseFolder(ExtractContext& ctx) {
    if (!g_run.chosen_folder.empty()) {
        ctx.base_folder = g_run.chosen_folder;
        WriteLog(L"Using working directory to decompress files: %s", ctx.base_folder.c_str());
        return 1;
    }
    std::wstring temp;
    if (ctx.sources.temp_folder(temp)) {
        ctx.base_folder = temp;
        WriteLog(L"Using TEMP path from win32 subsystem: %s", ctx.base_folder.c_str());
        return 1;
    }
    return EnterFallbackFolder(ctx);
}

void EnterBaseFolder(ExtractContext& ctx) {
    GetCurrentDir(ctx.starting_dir);
    WriteLog(L"Extracting to: %s", ctx.base_folder.c_str());
    if (!SetCurrentDir(ctx.base_folder)) {
        WriteLog(L"*** FALLBACK: Unable to access directory \"%s\"", ctx.base_folder.c_str());
        WriteLog(L"Extracting to: %s", ctx.starting_dir.c_str());
    }
}

int CreateWorkDir(ExtractContext& ctx) {
    std::wstring current;
    if (GetCurrentDir(current)) ScavengeInterruptedRuns(current, g_run.own_work_dirs);
    ctx.work_dir_name = WorkDirName(ctx.sources.now());
    NameSource names(ctx.sources.random_seed());

    bool use_access_control = IsElevatedAdmin();
    SecurityHolder security;
    if (use_access_control) {
        security.reset(BuildWorkDirSecurity());
        if (g_security_failed) use_access_control = false;
    }

    // Where others may write, the tree is the user's alone even when the
    // user is no administrator.
    bool make_private = !use_access_control && BaseFolderIsShared();
    if (make_private) {
        security.reset(BuildPrivateDirSecurity());
        make_private = security != nullptr;
        WriteLog(L"%s", make_private ? L"Shared base folder: private working directory."
                                     : L"Shared base folder: private working directory not available.");
    }
    bool secured = use_access_control || make_private;
    bool created = CreateUniqueDirectory(ctx, names, security, secured);
    use_access_control = use_access_control && secured;
    security.reset();
    if (!created) {
        AskForTempLocation();
        return 0;
    }
    ctx.work_dir_created = true;
    ReportWorkDirStep(L"made");
    // Held from here to the launch; never a link put in its place, nor a
    // folder of someone else's swapped in between its creation and the hold.
    ctx.work_dir = OpenDirHandle(ctx.work_dir_name, false);
    if (ctx.work_dir && OwnedByOther(ctx.work_dir)) {
        CloseDirHandle(ctx.work_dir);
        ctx.work_dir = nullptr;
    }
    GetCurrentDir(current);
    ctx.work_dir_full = WithTrailingSeparator(current) + ctx.work_dir_name;
    g_run.own_work_dirs.push_back(ctx.work_dir_full);
    ReportWorkDirStep(L"created");
    if (ctx.work_dir) MarkWorkDir(ctx);
    ReportWorkDirStep(L"marked");
    WriteLog(L"%s", use_access_control ? L"Verified." : L"Verifying...");

    g_run.work_dir_path = ctx.work_dir_full;
    if (!ctx.work_dir || !SetCurrentDir(ctx.work_dir_name) || !GetCurrentDir(current)) {
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        AskForTempLocation();
        return 0;
    }
    ctx.work_dir_path = current + kPathSeparator;
    RestoreStartingDir(ctx);
    return 1;
}

bool IsElevatedAdmin() {
    AdminCheck check = CheckElevatedAdmin();
    int count = check.code + (check.elevated ? 2 : 0);
    WriteLog(L"%s", std::wstring(static_cast<size_t>(count), L'*').c_str());
    return check.elevated;
}

DirSecurity* BuildWorkDirSecurity() {
    DirSecurity* security = BuildDirSecurity();
    if (!security) {
        g_security_failed = true;
        WriteLog(L"%s", L"Default.");
        return nullptr;
    }
    WriteLog(L"%s", L"Attributes set.");
    return security;
}
