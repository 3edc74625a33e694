// Fuzzes ZIP reading and extraction: the input is an archive storage. It is
// written to a scratch file, its directory read and every entry extracted
// into a scratch directory that is emptied again afterwards.
//
// Besides the sanitizers, one property is checked: every member reported as
// written (a file whose storage status is 0) exists below the extraction
// directory. A member written anywhere else would break it.
//
// Some inputs are read with a bound before their end, as the payload of a
// signed installer is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "platform/directory.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "sea/tree_removal.h"

namespace {

struct Scratch {
    std::wstring archive;
    std::wstring out;
};

const Scratch& ScratchPaths() {
    static Scratch scratch;
    if (scratch.out.empty()) {
        std::wstring cwd;
        GetCurrentDir(cwd);
        const std::wstring dir = cwd + L"/archive-fuzz";
        CreateDir(dir);
        scratch.archive = dir + L"/input.zip";
        scratch.out = dir + L"/out";
    }
    return scratch;
}

int Progress(const wchar_t*, int32_t, int32_t) { return 0; }

// The product's monitor, remembering which entries Extract finished.
class FinishedEntries : public ALSimpleMonitor {
public:
    FinishedEntries() : ALSimpleMonitor(Progress) {}
    void NotifyOperation(ALMonitorEvent event, ALArchive* archive, ALEntry* entry) override {
        ALSimpleMonitor::NotifyOperation(event, archive, entry);
        if (event == EntryExtractEnd) finished.insert(entry);
    }
    std::set<const ALEntry*> finished;
};

void CheckWrittenMembersAreInside(ALEntryList& list, const FinishedEntries& monitor,
                                  const std::wstring& out) {
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        ALStorage& member = *e->storage;
        if (!monitor.finished.count(e) || member.status.GetStatusCode() != 0) continue;
        if (member.attributes.Directory()) continue;
        // The same narrow form of the name that the file layer opened.
        std::error_code error;
        const std::string path = WideToUtf8(out) + "/" + WideToUtf8(member.GetName());
        if (!std::filesystem::exists(std::filesystem::path(path), error)) {
            fprintf(stderr, "member written outside the target: %ls\n", member.GetName());
            abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& scratch = ScratchPaths();
    if (FILE* f = OpenStream(scratch.archive, "wb")) {
        fwrite(data, 1, size, f);
        fclose(f);
    } else {
        return 0;
    }
    DeleteDirectoryTree(scratch.out, true);
    CreateDir(scratch.out);
    std::wstring start;
    GetCurrentDir(start);

    FinishedEntries monitor;
    ALPrototypeSet prototypes;
    prototypes.AddDecompressor(ALPkDecompressor());
    prototypes.AddDecompressor(ALCopyDecompressor());
    prototypes.AddDecompressor(ALLzmaDecompressor());
    prototypes.AddDecompressor(ALZstdDecompressor());
    prototypes.AddStorage(ALFile());
    {
        ALEntryList list(&monitor, prototypes);
        ALFile file(scratch.archive.c_str());
        // Inputs whose last byte is odd are read as a signed installer's
        // payload is: with reads bounded that many bytes before the end.
        if (size > 0 && (data[size - 1] & 1)) {
            file.LimitReads(static_cast<int32_t>(size - std::min<size_t>(size, data[size - 1])));
        }
        ALPkArchive archive(file);
        archive.ReadDirectory(list);
        if (SetCurrentDir(scratch.out)) {
            archive.Extract(list);
            SetCurrentDir(start);
            CheckWrittenMembersAreInside(list, monitor, scratch.out);
        }
    }
    DeleteDirectoryTree(scratch.out, true);
    return 0;
}
