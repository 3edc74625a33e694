// The extraction driver: one attempt to unpack the program's own payload
// into a fresh working directory and start the installer's launcher.
//
// Every step returns 1 to go on or 0 after its own failure handling (log
// lines, dialog panel, clean-up), so the driver only returns 0 in turn. The
// abort tests sit between the steps; the archive objects live for one call
// and are destroyed in reverse order of construction on every return path.
#include "sea/extract.h"

#include <memory>

#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "archive/prototype_set.h"
#include "pe/signed_storage.h"
#include "sea/dialog_state.h"
#include "sea/extract_context.h"
#include "sea/extract_lanes.h"
#include "sea/free_space.h"
#include "sea/held_tree.h"
#include "sea/launch.h"
#include "sea/launcher_config.h"
#include "sea/location_file.h"
#include "sea/log.h"
#include "sea/own_file.h"
#include "sea/progress_dialog.h"
#include "sea/run_marker.h"
#include "sea/run_state.h"
#include "sea/signed_bytes.h"
#include "sea/status_text.h"
#include "sea/work_dir.h"

namespace {

// Inflate and copy decompressors, then LZMA and Zstandard, one file
// storage: what every payload entry needs. Files are made in the held tree only.
ALPrototypeSet PayloadPrototypes(const HeldTree& tree) {
    ALPrototypeSet prototypes;
    prototypes.AddDecompressor(ALPkDecompressor());
    prototypes.AddDecompressor(ALCopyDecompressor());
    prototypes.AddDecompressor(ALLzmaDecompressor());
    prototypes.AddDecompressor(ALZstdDecompressor());
    prototypes.AddStorage(HeldTreeFile(&tree, L"", ALFile::kDefaultBufferSize, NameCaseIgnore));
    return prototypes;
}

// Working directory, own file and free space (steps 4 to 10).
int PrepareWorkDir(ExtractContext& ctx) {
    if (AbortRequested(ctx, AbortCleanup::kNone)) return 0;
    if (!ChooseBaseFolder(ctx)) return 0;
    if (AbortRequested(ctx, AbortCleanup::kNone)) return 0;
    EnterBaseFolder(ctx);
    if (!CreateWorkDir(ctx)) return 0;
    if (AbortRequested(ctx, AbortCleanup::kRemove)) return 0;
    if (!CheckOwnFile(ctx, g_run.own_path, g_run.own_image)) return 0;
    return CheckFreeSpace(ctx);
}

// Checks the own file's certificate table, reads the payload's directory
// and extracts every entry into the working directory (steps 11 to 17).
int ExtractPayload(ExtractContext& ctx, ALEntryList& list, HeldTree& tree) {
    const std::wstring own_path = g_run.own_path;
    int32_t result;
    {
        // The archive reads the file held since start-up, never the path.
        ALFile own(own_path.c_str(), ALStorage::kDefaultBufferSize, NameCaseIgnore);
        own.ReadOpenFile(g_run.own_image.descriptor);
        // The second extraction thread's reader of the same file.
        ALFile second(own_path.c_str(), ALStorage::kDefaultBufferSize, NameCaseIgnore);
        second.ReadOpenFile(g_run.own_image.descriptor);
        ALPkArchive archive(own);
        // The signature's check and the archive read one descriptor; a
        // signed file's archive ends where its certificate table begins.
        std::wstring damage;
        if (!LimitToSignedBytes(own, damage)) {
            ReportDamagedSignature(damage);
            RestoreStartingDir(ctx);
            RemoveWorkDir(ctx);
            return 0;
        }
        // A failed directory read stays in the archive's status, which
        // Extract then returns.
        archive.ReadDirectory(list);
        // The marker must never stand in the way of a payload's own file.
        if (PayloadNamesMarker(list)) UnmarkWorkDir(ctx);
        // Entries are created relative to the held working directory; it
        // is the current directory too, as the launcher expects.
        const bool entered = EnterWorkDir(ctx);
        tree.SetRoot(ctx.work_dir);
        if (AbortRequested(ctx, AbortCleanup::kRestoreRemove)) return 0;
        result = entered ? ExtractInLanes(archive, list, second) : AL_CANT_OPEN_FILE;
    }
    if (result != 0) LogStatusCodeText(result);
    if (AbortRequested(ctx, AbortCleanup::kRestoreRemove)) return 0;
    if (result < 0) return FailExtraction(ctx, result);
    return 1;
}

// Heap options, location file and launch (steps 18 to 21).
int StartInstaller(ExtractContext& ctx) {
    if (g_run.min_heap_given || g_run.max_heap_given) PatchHeapSizesIn(ctx.work_dir);
    if (AbortRequested(ctx, AbortCleanup::kRestoreRemove)) return 0;
    if (!WriteLocationFile(ctx)) return 0;
    return LaunchInstaller(ctx);
}

}  // namespace

int ExtractFile() {
    WriteLog(L"Extracting files.");
    ShowPreparing();

    HeldTree tree;
    ALSimpleMonitor monitor(MonitorCallback);
    ALEntryList list(&monitor, PayloadPrototypes(tree));
    ExtractContext ctx;

    if (!PrepareWorkDir(ctx)) return 0;
    if (!ExtractPayload(ctx, list, tree)) return 0;
    return StartInstaller(ctx);
}
