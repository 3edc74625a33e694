// The marker of a run in progress.
#include "sea/run_marker.h"

#include "archive/name_string.h"
#include "archive/storage.h"
#include "platform/directory_search.h"
#include "platform/file_lock.h"
#include "platform/path.h"

const wchar_t kRunMarkerName[] = L"~sea-extraction-in-progress";

WorkDirStepProbe g_work_dir_step_probe = nullptr;

void ReportWorkDirStep(const wchar_t* step) {
    if (g_work_dir_step_probe) g_work_dir_step_probe(step);
}

void MarkWorkDir(ExtractContext& ctx) {
    if (ctx.marker || ctx.work_dir_full.empty()) return;
    ctx.marker = CreateLockedFile(ctx.work_dir_full + kPathSeparator + kRunMarkerName);
}

void UnmarkWorkDir(ExtractContext& ctx) {
    if (!ctx.marker) return;
    ReleaseLockedFile(ctx.marker, true);
    ctx.marker = nullptr;
}

void CloseWorkDirMarker(ExtractContext& ctx) {
    if (!ctx.marker) return;
    ReleaseLockedFile(ctx.marker, false);
    ctx.marker = nullptr;
}

bool WorkDirHoldsOnlyMarker(const ExtractContext& ctx) {
    DirectorySearch search(ctx.work_dir_full + kPathSeparator + L"*");
    if (!search.started()) return false;
    DirEntry entry;
    while (search.Next(entry)) {
        if (entry.name == L"." || entry.name == L".." || entry.name == kRunMarkerName) continue;
        return false;
    }
    return true;
}

bool PayloadNamesMarker(const ALEntryList& list) {
    for (const ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        if (!entry->storage) continue;
        const wchar_t* name = entry->storage->GetName();
        // "./name" and ".\name" land on the same file as "name".
        if (name[0] == L'.' && IsPathSeparator(name[1])) name += 2;
        if (ALNameString::CompareTexts(name, kRunMarkerName, NameCaseIgnore) == 0) return true;
    }
    return false;
}
